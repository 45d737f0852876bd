// "История устройства…": the snapshots of a unit, newest first; any of them compares with the open database
// in the comparison dialog, or is chosen to be opened in the window read-only.
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
    QPushButton* bt_Open;
    QPushButton* bt_Compare;
    QPushButton* bt_Close;
    Tfrm_compare* frm_compare;

    // The folder of the snapshot in the selected row, or empty.
    std::string selectedSnapshot() const;
    // The folder of the snapshot "Открыть" closed the dialog with, or empty.
    const std::string& snapshotToOpen() const { return toOpen_; }

private:
    void fill();
    void compareSelected();
    std::string folder_;
    std::string toOpen_;
    const SettingsDatabase& open_;
};

} // namespace zirezid
