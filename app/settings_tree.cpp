#include "app/settings_tree.h"

#include "model/tables.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace zirezid {

namespace {
QPixmap drawMark(int mark) {
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(2.5, 2.5, 11, 11);
    p.setPen(QPen(QColor(60, 60, 60), 1));
    p.setBrush(Qt::white);
    p.drawRect(box);
    switch (mark) {
    case 2: { // marked: a tick
        QPen pen(QColor(0, 110, 0), 2);
        p.setPen(pen);
        p.drawPolyline(QPolygonF() << QPointF(4.5, 8) << QPointF(7, 11) << QPointF(11.5, 4.5));
        break;
    }
    case 3: // mixed: a filled inner square
        p.fillRect(QRectF(5, 5, 6, 6), QColor(90, 90, 160));
        break;
    case 4: { // changed: a red pencil stroke
        p.setPen(QPen(QColor(200, 30, 30), 2));
        p.drawLine(QPointF(4.5, 11.5), QPointF(11.5, 4.5));
        p.setBrush(QColor(200, 30, 30));
        p.drawEllipse(QPointF(8, 8), 1.5, 1.5);
        break;
    }
    default:
        break;
    }
    return pm;
}
} // namespace

QIcon markImage(int mark) {
    if (mark < 1 || mark > 4)
        return {};
    static const QIcon images[4] = {QIcon(drawMark(1)), QIcon(drawMark(2)), QIcon(drawMark(3)), QIcon(drawMark(4))};
    return images[mark - 1];
}

host::TreeNode* TreeNodeItem::addChild(const std::string& text, KT_TABLE* data) {
    auto* item = new TreeNodeItem(data); // owned by this item from the next line on
    QTreeWidgetItem::addChild(item);
    item->setText(text);
    return item;
}

void TreeNodeItem::deleteChildren() {
    for (int i = 0; i < QTreeWidgetItem::childCount(); ++i)
        static_cast<TreeNodeItem*>(QTreeWidgetItem::child(i))->forgetTables();
    const auto gone = takeChildren();
    qDeleteAll(gone);
}

host::TreeNode* TreeNodeItem::child(int index) const {
    return static_cast<TreeNodeItem*>(QTreeWidgetItem::child(index));
}

host::TreeNode* TreeNodeItem::parent() const { return static_cast<TreeNodeItem*>(QTreeWidgetItem::parent()); }

void TreeNodeItem::setStateImage(int image) {
    stateImage_ = image;
    setIcon(0, markImage(image));
}

void TreeNodeItem::setText(const std::string& text) { QTreeWidgetItem::setText(0, QString::fromStdString(text)); }

void TreeNodeItem::forgetTables() {
    if (data_ != nullptr && data_->node == this)
        data_->node = nullptr;
    for (int i = 0; i < QTreeWidgetItem::childCount(); ++i)
        static_cast<TreeNodeItem*>(QTreeWidgetItem::child(i))->forgetTables();
}

KtTreeView::KtTreeView(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setExpandsOnDoubleClick(false);
    setItemsExpandable(false); // the view itself never toggles a node; toggleExpand does
    setIconSize(QSize(16, 16));
    // Long captions scroll sideways instead of being cut.
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    header()->setStretchLastSection(false);
}

TreeNodeItem* KtTreeView::rootNode() const {
    return topLevelItemCount() > 0 ? static_cast<TreeNodeItem*>(topLevelItem(0)) : nullptr;
}

bool KtTreeView::onStateImage(QTreeWidgetItem* item, const QPoint& pos) const {
    if (item == nullptr || item->icon(0).isNull())
        return false;
    const QModelIndex index = indexFromItem(item);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    option.features |= QStyleOptionViewItem::HasDecoration;
    option.decorationSize = iconSize();
    option.icon = item->icon(0);
    const QRect icon = style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
    return icon.contains(pos);
}

void KtTreeView::mousePressEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(pos);
    if (item != nullptr) {
        const QRect row = visualItemRect(item);
        // Left of the item's own rectangle lies the branch indicator: any button on it opens or closes the node.
        if (pos.x() < row.left() && pos.x() >= row.left() - indentation() && item->childCount() > 0) {
            if (toggleExpand)
                toggleExpand(item);
            event->accept();
            return;
        }
        if (onStateImage(item, pos)) {
            if (toggleMark)
                toggleMark(node(item));
            event->accept();
            return;
        }
    }
    // Any button selects, the right one included.
    QTreeWidget::mousePressEvent(event);
    if (item != nullptr && event->button() == Qt::RightButton)
        setCurrentItem(item);
}

void KtTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click neither opens a node nor toggles a mark twice: it only selects.
    const QPoint pos = event->position().toPoint();
    QTreeWidgetItem* item = itemAt(pos);
    if (item != nullptr && onStateImage(item, pos)) {
        if (toggleMark)
            toggleMark(node(item));
        event->accept();
        return;
    }
    event->accept();
}

void KtTreeView::keyPressEvent(QKeyEvent* event) {
    QTreeWidgetItem* item = currentItem();
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
        if (item != nullptr && item->childCount() > 0 && toggleExpand)
            toggleExpand(item);
        event->accept();
        return;
    case Qt::Key_Space:
        if (item != nullptr && toggleMark)
            toggleMark(node(item));
        event->accept();
        return;
    case Qt::Key_Plus:
    case Qt::Key_Minus:
    case Qt::Key_Asterisk:
        event->accept(); // the view's own expanding keys are not ours
        return;
    default:
        QTreeWidget::keyPressEvent(event);
    }
}

} // namespace zirezid
