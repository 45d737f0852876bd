// The preview before a write: what will change on the unit (unit now -> database) object by object, the
// recordings replaced or deleted, and first the conflicts with changes made on the unit since the database
// was read from it. Each conflict waits for the technician's choice of the value that stays: until every one
// has it, "Записать" stays disabled and says why. "Отмена" sends nothing.
#pragma once

#include "history/preview.h"

#include <QDialog>

#include <vector>

class QButtonGroup;
class QLabel;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zirezid {

class WritePreviewDialog : public QDialog {
    Q_OBJECT
public:
    WritePreviewDialog(QWidget* parent, history::Preview& preview);

    QLabel* lbl_Head;
    QTreeWidget* tv_Changes;
    QLabel* lbl_Choose;          // why "Записать" is not yet available
    QPushButton* bt_AllDatabase; // every conflict: the database's value
    QPushButton* bt_AllUnit;     // every conflict: the unit's value
    QPushButton* bt_Go;
    QPushButton* bt_Cancel;

    // The column of the choice: the two values a conflict can keep; for the unit's own changes, checked =
    // the database's value is written over the unit's.
    static constexpr int kChoiceColumn = 3;

    // The choices of the k-th conflict, in the preview's order.
    QRadioButton* databaseChoice(std::size_t k) const { return conflictChoices_[k].database; }
    QRadioButton* unitChoice(std::size_t k) const { return conflictChoices_[k].unit; }
    // Conflicts still without a choice.
    int undecided() const;

protected:
    void done(int result) override;

private:
    struct Choice {
        QButtonGroup* group;
        QRadioButton* unit;
        QRadioButton* database;
    };
    void setAllConflicts(bool keepUnit);
    void updateGo();
    history::Preview& preview_;
    std::vector<Choice> conflictChoices_;
    std::vector<QTreeWidgetItem*> unitChangeItems_;
};

} // namespace zirezid
