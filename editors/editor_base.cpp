#include "editors/editor_base.h"

#include "model/tables.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const char* const kTagProperty = "ktRecord";
const char* const kTagControlProperty = "ktControl";

// The stored form of a check box: 0 unchecked, 1 checked, 2 greyed.
int checkValue(const QCheckBox* check) {
    switch (check->checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

bool isInside(const QWidget* widget, const QWidget* container) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget())
        if (w == container)
            return true;
    return false;
}
} // namespace

KtRadioGroup::KtRadioGroup(const QString& title, const QStringList& items, int columns, QWidget* parent)
    : QGroupBox(title, parent), group_(new QButtonGroup(this)) {
    auto* grid = new QGridLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        group_->addButton(button, i);
        grid->addWidget(button, i / columns, i % columns);
    }
}

int KtRadioGroup::itemIndex() const { return group_->checkedId(); }

void KtRadioGroup::setItemIndex(int index) {
    if (QAbstractButton* button = group_->button(index)) {
        button->setChecked(true);
        return;
    }
    // No item for the index: no button is checked.
    group_->setExclusive(false);
    for (QAbstractButton* b : group_->buttons())
        b->setChecked(false);
    group_->setExclusive(true);
}

QPixmap headingPicture(int kind) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    static const QColor colours[] = {QColor(0, 0, 128),    QColor(0, 110, 140), QColor(40, 120, 40), QColor(140, 90, 0),
                                     QColor(120, 40, 120), QColor(160, 40, 40), QColor(60, 60, 160), QColor(0, 90, 90)};
    const QColor colour = colours[qBound(0, kind, 7)];
    p.setBrush(colour);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(2, 2, 28, 28), 6, 6);
    p.setPen(QPen(Qt::white, 2));
    switch (kind) {
    case 1: // database: stacked discs
        for (int i = 0; i < 3; ++i)
            p.drawEllipse(QRectF(8, 7 + i * 6, 16, 6));
        break;
    case 5: // menus: lines of a list
        for (int i = 0; i < 3; ++i)
            p.drawLine(QPointF(8, 10 + i * 6), QPointF(24, 10 + i * 6));
        break;
    case 6: // mailboxes: an envelope
        p.drawRect(QRectF(7, 10, 18, 12));
        p.drawPolyline(QPolygonF() << QPointF(7, 10) << QPointF(16, 17) << QPointF(25, 10));
        break;
    case 7: // lines: a handset
        p.drawArc(QRectF(8, 8, 16, 16), 200 * 16, 140 * 16);
        break;
    default: // settings: a gear-like ring
        p.drawEllipse(QRectF(10, 10, 12, 12));
        p.drawLine(QPointF(16, 5), QPointF(16, 9));
        p.drawLine(QPointF(16, 23), QPointF(16, 27));
        p.drawLine(QPointF(5, 16), QPointF(9, 16));
        p.drawLine(QPointF(23, 16), QPointF(27, 16));
        break;
    }
    return pm;
}

TKT_EDITOR::TKT_EDITOR(QWidget* parent) : QFrame(parent) {
    setMinimumWidth(465);
    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    pnl_top = new QFrame(this);
    pnl_top->setObjectName(QStringLiteral("pnl_top"));
    pnl_top->setFrameShape(QFrame::StyledPanel);
    pnl_top->setAutoFillBackground(true);
    auto* heading = new QHBoxLayout(pnl_top);
    Image1 = new QLabel(pnl_top);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setFixedSize(32, 32);
    stCaption = new QLabel(pnl_top);
    stCaption->setObjectName(QStringLiteral("stCaption"));
    QFont font(QStringLiteral("Verdana"));
    font.setBold(true);
    font.setPointSize(11);
    stCaption->setFont(font);
    QPalette navy = stCaption->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    stCaption->setPalette(navy);
    heading->addWidget(Image1);
    heading->addWidget(stCaption, 1);
    pnl_middle = new QWidget(this);
    pnl_middle->setObjectName(QStringLiteral("pnl_middle"));
    pnl_bottom = new QFrame(this);
    pnl_bottom->setObjectName(QStringLiteral("pnl_bottom"));
    pnl_bottom->setFixedHeight(8);
    top->addWidget(pnl_top);
    top->addWidget(pnl_middle, 1);
    top->addWidget(pnl_bottom);
    setHeadingPicture(headingPicture(0));
    QFrame::hide();
}

TKT_EDITOR::~TKT_EDITOR() = default;

void TKT_EDITOR::setHeadingPicture(const QPixmap& picture) { Image1->setPixmap(picture); }

void TKT_EDITOR::hideAndDetach() {
    QFrame::hide();
    if (QWidget* panel = parentWidget()) {
        if (panel->layout() != nullptr)
            panel->layout()->removeWidget(this);
        setParent(nullptr);
    }
}

void TKT_EDITOR::placeInto(host::WindowHandle parent) {
    auto* panel = static_cast<QWidget*>(parent);
    if (panel == nullptr || parentWidget() == panel)
        return;
    setParent(panel);
    if (panel->layout() != nullptr)
        panel->layout()->addWidget(this);
}

void TKT_EDITOR::bringToFront() { raise(); }

void TKT_EDITOR::show() { QFrame::show(); }

void TKT_EDITOR::takeContext(host::WindowHandle context) { ownerWindow = static_cast<EditorOwner*>(context); }

void TKT_EDITOR::editObject(KT_TYPE& object) { bindObject(dynamic_cast<KT_TABLE*>(&object)); }

QList<QWidget*> TKT_EDITOR::ownedControls() const { return pnl_middle->findChildren<QWidget*>(); }

void TKT_EDITOR::wire(QWidget* control) {
    if (wired_.contains(control))
        return;
    wired_.insert(control);
    // Signals and the event filter are connected once; attached_ decides whether they act, which is how the
    // base attaches and detaches its handlers.
    if (auto* check = qobject_cast<QCheckBox*>(control)) {
        check->installEventFilter(this);
        connect(check, &QCheckBox::clicked, this, [this, check] {
            if (attached_)
                controlClick(check);
        });
    } else if (auto* radio = qobject_cast<KtRadioGroup*>(control)) {
        for (QAbstractButton* b : radio->buttons()->buttons())
            b->installEventFilter(this);
        connect(radio->buttons(), &QButtonGroup::idClicked, this, [this, radio] {
            if (attached_)
                controlClick(radio);
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->installEventFilter(this);
        // Some styles open a list as tall as the screen and ignore the row limit; the plain list keeps it.
        combo->setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
        connect(combo, &QComboBox::activated, this, [this, combo] {
            if (attached_)
                controlExit(combo);
        });
    } else if (auto* button = qobject_cast<QToolButton*>(control)) {
        connect(button, &QToolButton::clicked, this, [this, button] {
            if (attached_)
                controlClick(button);
        });
    } else if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->installEventFilter(this);
        edit->setAcceptDrops(false);
        edit->setDragEnabled(false);
        edit->setAttribute(Qt::WA_InputMethodEnabled, false);
    }
}

void TKT_EDITOR::bindObject(KT_TABLE* object) {
    boundObject = object;
    stCaption->setText(object != nullptr ? QString::fromStdString(object->getDescription()) : QString());
    for (QWidget* control : ownedControls())
        wire(control);
    attached_ = true;
}

void TKT_EDITOR::unbindControls() { attached_ = false; }

void TKT_EDITOR::unbind() {
    unbindControls();
    for (QWidget* control : ownedControls())
        control->setProperty(kTagProperty, QVariant());
    boundObject = nullptr;
}

void TKT_EDITOR::commitPending() {
    QWidget* focus = QApplication::focusWidget();
    if (!attached_ || focus == nullptr || !isInside(focus, pnl_middle))
        return;
    if (QWidget* control = controlOf(focus))
        controlExit(control);
}

void TKT_EDITOR::setTag(QWidget* control, KT_RECORD* record) {
    control->setProperty(kTagProperty, QVariant::fromValue(static_cast<void*>(record)));
}

KT_RECORD* TKT_EDITOR::tag(const QWidget* control) {
    return static_cast<KT_RECORD*>(control->property(kTagProperty).value<void*>());
}

void TKT_EDITOR::setTagControl(QWidget* button, QWidget* input) {
    button->setProperty(kTagControlProperty, QVariant::fromValue(static_cast<void*>(input)));
}

QWidget* TKT_EDITOR::tagControl(const QWidget* button) {
    return static_cast<QWidget*>(button->property(kTagControlProperty).value<void*>());
}

void TKT_EDITOR::loadControl(QWidget* control, const char* fieldKey) {
    KT_RECORD* record = boundObject != nullptr ? boundObject->findChild(fieldKey) : nullptr;
    setTag(control, record);
    control->setEnabled(record != nullptr);
    if (record == nullptr)
        return;
    const QString text = QString::fromStdString(record->getEditText());
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(text);
    } else if (auto* radio = qobject_cast<KtRadioGroup*>(control)) {
        radio->setItemIndex(text.toInt());
    } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
        check->setChecked(text.toInt() != 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        combo->setCurrentIndex(text.toInt());
    }
    const QString hint = QString::fromStdString(record->value->getDescription());
    control->setToolTip(hint);
    control->setStatusTip(hint);
}

QWidget* TKT_EDITOR::controlOf(QObject* watched) const {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr)
        return nullptr;
    if (qobject_cast<QRadioButton*>(widget) != nullptr)
        if (auto* group = qobject_cast<KtRadioGroup*>(widget->parentWidget()))
            return group;
    // A combo box's line edit or popup reports for the combo box itself.
    for (QWidget* w = widget; w != nullptr && w != pnl_middle; w = w->parentWidget())
        if (qobject_cast<QComboBox*>(w) != nullptr)
            return w;
    return widget;
}

static bool storesOnExit(QFocusEvent* event) {
    // Switching to another window or opening a pop-up is not leaving the control.
    return event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason;
}

void TKT_EDITOR::typeInto(QLineEdit* edit, const QString& text) {
    for (const char32_t ch : text.toUcs4()) {
        if (!controlKeyPress(edit, ch)) {
            tellRefusal(edit, ch);
            continue;
        }
        edit->insert(QString::fromUcs4(&ch, 1));
    }
}

void TKT_EDITOR::tellRefusal(QLineEdit* edit, char32_t key) {
    KT_RECORD* record = tag(edit);
    if (record == nullptr || record->value == nullptr)
        return;
    const QString reason = QString::fromStdString(record->value->keyRefusal(key));
    if (reason.isEmpty())
        return;
    lastRefusal = reason;
    // A balloon under the field: the typing goes on, and the user learns why the key did nothing.
    QToolTip::showText(edit->mapToGlobal(QPoint(0, edit->height())), reason, edit);
}

bool TKT_EDITOR::eventFilter(QObject* watched, QEvent* event) {
    // A closed drop-down or picker under a passing mouse wheel is not being chosen from.
    if (event->type() == QEvent::Wheel &&
        (qobject_cast<QComboBox*>(watched) != nullptr || qobject_cast<QAbstractSpinBox*>(watched) != nullptr))
        return true;
    // An open list shows its entries whole, however narrow the closed drop-down is.
    if (auto* combo = qobject_cast<QComboBox*>(watched);
        combo != nullptr && (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::KeyPress)) {
        QAbstractItemView* view = combo->view();
        const int scrollBar = combo->count() > combo->maxVisibleItems()
                                  ? combo->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view)
                                  : 0;
        view->setMinimumWidth(view->sizeHintForColumn(combo->modelColumn()) + scrollBar + 2 * view->frameWidth());
    }
    if (!attached_)
        return QFrame::eventFilter(watched, event);
    QWidget* control = controlOf(watched);
    switch (event->type()) {
    case QEvent::FocusOut: {
        auto* focus = static_cast<QFocusEvent*>(event);
        if (control == nullptr || storing_ || !storesOnExit(focus))
            break;
        if (auto* radio = qobject_cast<KtRadioGroup*>(control)) {
            // Moving between the buttons of one group is not leaving it.
            if (QWidget* next = QApplication::focusWidget(); next != nullptr && isInside(next, radio))
                break;
        }
        controlExit(control);
        break;
    }
    case QEvent::KeyPress: {
        auto* key = static_cast<QKeyEvent*>(event);
        if (auto* edit = qobject_cast<QLineEdit*>(control)) {
            if (key->matches(QKeySequence::Paste)) {
                if (!edit->isReadOnly())
                    typeInto(edit, QApplication::clipboard()->text());
                return true;
            }
            if (key->key() == Qt::Key_Backspace)
                return !controlKeyPress(control, 8);
            if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab)
                break; // moving on is the dialog's, not a character of the field
            const QString text = key->text();
            if (text.isEmpty() || text.at(0).isNull() || (key->modifiers() & Qt::ControlModifier))
                break; // cursor keys, Delete and shortcuts are no characters for the filter
            for (const char32_t ch : text.toUcs4())
                if (!controlKeyPress(control, ch)) {
                    tellRefusal(edit, ch);
                    return true;
                }
            break;
        }
        if (qobject_cast<QComboBox*>(control) != nullptr) {
            const QString text = key->text();
            if (!text.isEmpty() && !controlKeyPress(control, text.toUcs4().value(0)))
                return true;
        }
        break;
    }
    case QEvent::ContextMenu: {
        auto* edit = qobject_cast<QLineEdit*>(control);
        if (edit == nullptr)
            break;
        // The standard menu's Paste would insert the clipboard unfiltered; route it through the key filter.
        std::unique_ptr<QMenu> menu(edit->createStandardContextMenu());
        for (QAction* action : menu->actions()) {
            if (action->objectName() == QLatin1String("edit-paste")) {
                action->disconnect();
                connect(action, &QAction::triggered, edit,
                        [this, edit] { typeInto(edit, QApplication::clipboard()->text()); });
            }
        }
        menu->exec(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    default:
        break;
    }
    return QFrame::eventFilter(watched, event);
}

void TKT_EDITOR::controlExit(QWidget* control) {
    KT_RECORD* record = tag(control);
    if (record == nullptr)
        return;
    storing_ = true;
    if (auto* edit = qobject_cast<KtMaskEdit*>(control)) {
        const bool ok = record->setEditText(edit->text().toStdString());
        if (!ok)
            edit->setFocus();
        edit->setText(QString::fromStdString(record->getEditText()));
    } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
        const int position = combo->findText(combo->currentText(), Qt::MatchExactly);
        if (!record->setEditText(std::to_string(position)))
            combo->setFocus();
    } else if (auto* radio = qobject_cast<KtRadioGroup*>(control)) {
        if (!record->setEditText(std::to_string(radio->itemIndex())))
            radio->setFocus();
    } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
        if (!record->setEditText(std::to_string(checkValue(check))))
            check->setFocus();
    }
    storing_ = false;
    // The heading names the object by its description, which may just have been edited.
    if (boundObject != nullptr)
        stCaption->setText(QString::fromStdString(boundObject->getDescription()));
}

void TKT_EDITOR::controlClick(QWidget* control) {
    if (qobject_cast<QToolButton*>(control) != nullptr) {
        QWidget* input = tagControl(control);
        KT_RECORD* record = input != nullptr ? tag(input) : nullptr;
        if (record != nullptr)
            record->value->showEditor(nullptr, input);
        return;
    }
    KT_RECORD* record = tag(control);
    if (record == nullptr)
        return;
    storing_ = true;
    if (auto* check = qobject_cast<QCheckBox*>(control)) {
        if (!record->setEditText(std::to_string(checkValue(check))))
            check->setFocus();
    } else if (auto* radio = qobject_cast<KtRadioGroup*>(control)) {
        if (!record->setEditText(std::to_string(radio->itemIndex())))
            radio->setFocus();
    }
    storing_ = false;
}

bool TKT_EDITOR::controlKeyPress(QWidget* control, char32_t key) {
    if (qobject_cast<QComboBox*>(control) != nullptr)
        return key == 13 || key == 27;
    if (qobject_cast<QLineEdit*>(control) != nullptr) {
        KT_RECORD* record = tag(control);
        if (record == nullptr)
            return true;
        return record->value->isKeyAllowed(key, qobject_cast<QLineEdit*>(control)->text().toStdString());
    }
    return true;
}

} // namespace zirezid
