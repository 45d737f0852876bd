// "Сравнить с файлом…": the differences between the open database and another settings file, grouped by
// object in tree order. Not modal, so the technician can keep it beside the tree: a double-click on an object
// or one of its rows selects that object in the tree.
#pragma once

#include "model/compare.h"

#include <QDialog>
#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace zirezid {

class Tfrm_compare : public QDialog {
    Q_OBJECT
public:
    explicit Tfrm_compare(QWidget* parent);

    // Fills the table; `nameA`/`nameB` head the value columns (the open database, the other file).
    void showComparison(const compare::Comparison& comparison, const QString& nameA, const QString& nameB);

    // Called with the object name on a double-click; the main window selects the object in its tree.
    std::function<void(const QString& objectName)> selectObject;

    QLabel* lbl_Summary;
    QTreeWidget* tv_Differences;
    QPushButton* btn_Close;

    // The item data role that holds an item's object name.
    static constexpr int kObjectNameRole = Qt::UserRole + 1;

private:
    void itemDoubleClicked(QTreeWidgetItem* item);
};

} // namespace zirezid
