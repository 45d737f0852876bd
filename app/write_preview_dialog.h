// The preview before a write: what will change on the unit (unit now -> database) object by object, the
// recordings replaced or deleted, and first the conflicts with changes made on the unit since the database
// was read from it, each with its choice. "Записать" goes on, "Отмена" sends nothing.
#pragma once

#include "history/preview.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zirezid {

class WritePreviewDialog : public QDialog {
    Q_OBJECT
public:
    WritePreviewDialog(QWidget* parent, history::Preview& preview);

    QLabel* lbl_Head;
    QTreeWidget* tv_Changes;
    QPushButton* bt_AllDatabase; // every conflict: the database's value
    QPushButton* bt_AllUnit;     // every conflict: the unit's value
    QPushButton* bt_Go;
    QPushButton* bt_Cancel;

    // The column of the choice: checked = the unit's value stays (conflicts) or the database's is written
    // (the unit's own changes).
    static constexpr int kChoiceColumn = 3;

protected:
    void done(int result) override;

private:
    void setAllConflicts(bool keepUnit);
    history::Preview& preview_;
    std::vector<QTreeWidgetItem*> conflictItems_;
    std::vector<QTreeWidgetItem*> unitChangeItems_;
};

} // namespace zirezid
