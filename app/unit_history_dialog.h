// "История устройства…": the snapshots of a unit, newest first; any of them compares with the open database
// in the comparison dialog.
#pragma once

#include <QDialog>
#include <string>

class QComboBox;
class QPushButton;
class QTableWidget;
class SettingsDatabase;

namespace zirezid {

class Tfrm_compare;

class UnitHistoryDialog : public QDialog {
    Q_OBJECT
public:
    // unit: the folder name of the connected unit (preselected), or empty.
    UnitHistoryDialog(QWidget* parent, const std::string& historyFolder, const SettingsDatabase& open,
                      const std::string& unit);

    QComboBox* cb_Unit;
    QTableWidget* tbl_Snapshots;
    QPushButton* bt_Compare;
    QPushButton* bt_Close;
    Tfrm_compare* frm_compare;

    // The folder of the snapshot in the selected row, or empty.
    std::string selectedSnapshot() const;

private:
    void fill();
    void compareSelected();
    std::string folder_;
    const SettingsDatabase& open_;
};

} // namespace zirezid
