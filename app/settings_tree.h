// The settings tree of the main window: nodes that the model drives through host::TreeNode, the four mark
// pictures, and a view that opens and closes nodes only where the main window allows it.
#pragma once

#include "model/host.h"

#include <QTreeWidget>
#include <functional>

namespace zirezid {

// Mark pictures 1-4 (not marked, marked, mixed, changed), drawn here; index 0 is no picture.
QIcon markImage(int mark);

class TreeNodeItem : public QTreeWidgetItem, public host::TreeNode {
public:
    explicit TreeNodeItem(KT_TABLE* data) : data_(data) {}
    host::TreeNode* addChild(const std::string& text, KT_TABLE* data) override;
    void deleteChildren() override;
    int childCount() const override { return QTreeWidgetItem::childCount(); }
    host::TreeNode* child(int index) const override;
    host::TreeNode* parent() const override;
    KT_TABLE* data() const override { return data_; }
    void setStateImage(int image) override;
    int stateImage() const override { return stateImage_; }
    void setImageIndex(int image) override { imageIndex_ = image; }
    int imageIndex() const { return imageIndex_; }
    void setText(const std::string& text) override;
    // The nodes have no other use once the tree forgets them; this clears every table's link to them.
    void forgetTables();

private:
    KT_TABLE* data_;
    int stateImage_ = 0;
    int imageIndex_ = 0;
};

class KtTreeView : public QTreeWidget {
    Q_OBJECT
public:
    explicit KtTreeView(QWidget* parent);
    TreeNodeItem* node(QTreeWidgetItem* item) const { return static_cast<TreeNodeItem*>(item); }
    TreeNodeItem* rootNode() const;
    // Whether the point (viewport coordinates) lies on the mark picture of `item`.
    bool onStateImage(QTreeWidgetItem* item, const QPoint& pos) const;

    // Set by the main window: toggles a node's mark; opens or closes a node with expanding allowed.
    std::function<void(TreeNodeItem*)> toggleMark;
    std::function<void(QTreeWidgetItem*)> toggleExpand;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

} // namespace zirezid
