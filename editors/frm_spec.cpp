#include "editors/frm_spec.h"

#include "model/actions.h"
#include "model/tables.h"
#include "model/unit_config.h"

#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QTableWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kCaption = QStringLiteral("Редатирование специальных комбинаций");
const QString kAdd = QStringLiteral("Добавить");
const QString kInsert = QStringLiteral("Вставить");
const QString kDelete = QStringLiteral("Удалить");
const QString kOk = QStringLiteral("OK");
const QString kCancel = QStringLiteral("Отмена");
constexpr int kCodeWidth = 50;
constexpr int kMeaningWidth = 390;
constexpr int kRowHeight = 15;

QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setAutoDefault(false);
    return b;
}

QTableWidget* grid(QWidget* parent, const char* name) {
    auto* g = new QTableWidget(0, 2, parent);
    g->setObjectName(QString::fromLatin1(name));
    g->setSelectionBehavior(QAbstractItemView::SelectRows);
    g->setSelectionMode(QAbstractItemView::SingleSelection);
    g->horizontalHeader()->hide();
    g->verticalHeader()->hide();
    g->verticalHeader()->setMinimumSectionSize(kRowHeight);
    g->verticalHeader()->setDefaultSectionSize(kRowHeight + 3);
    g->setColumnWidth(0, kCodeWidth);
    g->setColumnWidth(1, kMeaningWidth);
    g->horizontalHeader()->setStretchLastSection(true);
    return g;
}

void setRow(QTableWidget* g, int row, const QString& code, const QString& meaning) {
    g->setItem(row, 0, new QTableWidgetItem(code));
    g->setItem(row, 1, new QTableWidgetItem(meaning));
}

QString cell(const QTableWidget* g, int row, int column) {
    const QTableWidgetItem* item = g->item(row, column);
    return item != nullptr ? item->text() : QString();
}
} // namespace

// ---- KtUpDown ----

KtUpDown::KtUpDown(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("ud1"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    bt_Up = new QToolButton(this);
    bt_Up->setObjectName(QStringLiteral("bt_Up"));
    bt_Up->setArrowType(Qt::UpArrow);
    bt_Down = new QToolButton(this);
    bt_Down->setObjectName(QStringLiteral("bt_Down"));
    bt_Down->setArrowType(Qt::DownArrow);
    bt_Up->setFixedSize(20, 13);
    bt_Down->setFixedSize(20, 13);
    bt_Up->setAutoRepeat(true);
    bt_Down->setAutoRepeat(true);
    column->addWidget(bt_Up);
    column->addWidget(bt_Down);
    connect(bt_Up, &QToolButton::clicked, this, [this] { step(1); });
    connect(bt_Down, &QToolButton::clicked, this, [this] { step(-1); });
}

void KtUpDown::setRange(int min, int max) {
    min_ = min;
    max_ = qMax(min, max);
    setPosition(position_);
}

void KtUpDown::setPosition(int position) {
    position_ = qBound(min_, position, max_);
    emit positionChanged(position_);
}

void KtUpDown::step(int delta) { setPosition(position_ + delta); }

// ---- Tfrm_spec1 ----

Tfrm_spec1::Tfrm_spec1(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_spec1"));
    setWindowTitle(QString::fromLatin1(host::applicationTitle));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    mem1 = new QPlainTextEdit(this);
    mem1->setObjectName(QStringLiteral("mem1"));
    mem1->setReadOnly(true);
    mem1->setFrameShape(QFrame::NoFrame);
    mem1->setFixedHeight(60);
    mem1->setBackgroundVisible(false);
    QPalette flat = mem1->palette();
    flat.setColor(QPalette::Base, palette().color(QPalette::Window));
    mem1->setPalette(flat);
    top->addWidget(mem1);
    auto* numberRow = new QHBoxLayout;
    me1 = new QLineEdit(this);
    me1->setObjectName(QStringLiteral("me1"));
    me1->setReadOnly(true);
    me1->setFixedWidth(80);
    ud1 = new KtUpDown(this);
    numberRow->addStretch();
    numberRow->addWidget(me1);
    numberRow->addWidget(ud1);
    numberRow->addStretch();
    top->addLayout(numberRow);
    auto* buttons = new QHBoxLayout;
    bt_Ok = button(this, "bt_Ok", kOk);
    bt_Ok->setDefault(true);
    bt_Cancel = button(this, "bt_Cancel", kCancel);
    buttons->addStretch();
    buttons->addWidget(bt_Ok);
    buttons->addWidget(bt_Cancel);
    top->addLayout(buttons);
    connect(ud1, &KtUpDown::positionChanged, me1, [this](int p) { me1->setText(QString::number(p)); });
    connect(bt_Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(bt_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    me1->installEventFilter(this);
    resize(360, 160);
}

bool Tfrm_spec1::eventFilter(QObject* watched, QEvent* event) {
    // The arrow keys in the number field step the up-down control.
    if (watched == me1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            ud1->step(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

bool Tfrm_spec1::ask(const QString& description, int min, int max, int& number) {
    mem1->setPlainText(description);
    ud1->setRange(min, max);
    ud1->setPosition(min);
    me1->setText(QString::number(ud1->position()));
    me1->setFocus();
    if (exec() != QDialog::Accepted)
        return false;
    number = ud1->position();
    return true;
}

// ---- Tfrm_spec ----

Tfrm_spec::Tfrm_spec(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frm_spec"));
    setWindowTitle(kCaption);
    setModal(true);
    auto* top = new QVBoxLayout(this);
    me = new QLineEdit(this);
    me->setObjectName(QStringLiteral("me"));
    me->setContextMenuPolicy(Qt::NoContextMenu);
    me->setAcceptDrops(false);
    top->addWidget(me);
    grd_dst = grid(this, "grd_dst");
    grd_dst->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::AnyKeyPressed);
    top->addWidget(grd_dst, 1);
    auto* edits = new QHBoxLayout;
    bt_Add = button(this, "bt_Add", kAdd);
    bt_Ins = button(this, "bt_Ins", kInsert);
    bt_Del = button(this, "bt_Del", kDelete);
    edits->addWidget(bt_Add);
    edits->addWidget(bt_Ins);
    edits->addWidget(bt_Del);
    edits->addStretch();
    top->addLayout(edits);
    grd_src = grid(this, "grd_src");
    grd_src->setEditTriggers(QAbstractItemView::NoEditTriggers);
    top->addWidget(grd_src, 1);
    auto* closing = new QHBoxLayout;
    bt_Ok = button(this, "bt_Ok", kOk);
    bt_Cancel = button(this, "bt_Cancel", kCancel);
    closing->addStretch();
    closing->addWidget(bt_Ok);
    closing->addWidget(bt_Cancel);
    top->addLayout(closing);
    frm_spec1 = new Tfrm_spec1(this);
    askNumber = [this](const QString& description, int min, int max, int& number) {
        return frm_spec1->ask(description, min, max, number);
    };

    connect(me, &QLineEdit::textEdited, this, [this] {
        if (me->text().size() > maxLength_)
            setText(me->text(), me->cursorPosition());
        refresh();
    });
    connect(bt_Add, &QPushButton::clicked, this, &Tfrm_spec::bt_AddClick);
    connect(grd_src, &QTableWidget::cellDoubleClicked, this, &Tfrm_spec::bt_AddClick);
    connect(bt_Ins, &QPushButton::clicked, this, &Tfrm_spec::bt_InsClick);
    connect(bt_Del, &QPushButton::clicked, this, &Tfrm_spec::bt_DelClick);
    connect(bt_Ok, &QPushButton::clicked, this, &Tfrm_spec::bt_OkClick);
    connect(bt_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    me->installEventFilter(this);
    grd_dst->installEventFilter(this);
    resize(500, 460);
}

Tfrm_spec::~Tfrm_spec() = default;

void Tfrm_spec::takeContext(host::WindowHandle context) { calling_ = static_cast<QLineEdit*>(context); }

void Tfrm_spec::editObject(KT_TYPE& object) {
    // For an action the dial string is its parameter.
    field_ = &object;
    if (auto* action = kt_cast<KT_ACTION>(&object); action != nullptr && action->param != nullptr)
        field_ = action->param.get();
    specials_ = field_->spec != nullptr ? *field_->spec : KT_SPEC();
    maxLength_ = qMax(0, field_->maxLength);
    me->setMaxLength(32767); // cut by hand, so an over-long text from the field is shown cut, not refused
    setText(calling_ != nullptr ? calling_->text() : QString::fromStdString(field_->getEditText()), -1);
    grd_src->setRowCount(specials_.count());
    for (int i = 0; i < specials_.count(); ++i)
        setRow(grd_src, i, QString::fromStdString(specials_.entry(i).pattern),
               QString::fromStdString(specials_.entry(i).description));
    if (specials_.count() > 0)
        grd_src->selectRow(0);
    refresh();
    gridLastUsed = false;
    me->setFocus();
}

void Tfrm_spec::setText(const QString& text, int caret) {
    const QString cut = text.left(maxLength_);
    me->setText(cut);
    me->setCursorPosition(caret < 0 ? static_cast<int>(cut.size()) : qMin(caret, static_cast<int>(cut.size())));
}

void Tfrm_spec::refresh() {
    const std::vector<KT_DIAL_ELEMENT> elements = parseDialString(me->text().toStdString(), specials_);
    grd_dst->setRowCount(static_cast<int>(elements.size()));
    for (std::size_t i = 0; i < elements.size(); ++i)
        setRow(grd_dst, static_cast<int>(i), QString::fromStdString(elements[i].code),
               QString::fromStdString(elements[i].meaning));
}

int Tfrm_spec::menuCount() const {
    if (database != nullptr)
        return database->currentConfig.menus;
    const KT_TABLE* t = field_ != nullptr && field_->ownerRecord != nullptr ? field_->ownerRecord->ownerTable : nullptr;
    while (t != nullptr && t->ownerRecord != nullptr && t->ownerRecord->ownerTable != nullptr)
        t = t->ownerRecord->ownerTable;
    const KT_TABLE* menus = t != nullptr ? t->findTable("MENUS") : nullptr;
    return menus != nullptr ? menus->childCount() : 0;
}

bool Tfrm_spec::askPiece(QString& piece) {
    const int row = grd_src->currentRow();
    if (row < 0 || row >= specials_.count())
        return false;
    const KT_RECORD_SPEC& entry = specials_.entry(row);
    const auto [min, max] = dialSpecialRange(entry.pattern, menuCount());
    int number = 0;
    if (entry.pattern.find('X') != std::string::npos &&
        !askNumber(QString::fromStdString(entry.description), min, max, number))
        return false;
    piece = QString::fromStdString(dialSpecialPiece(entry.pattern, number));
    return true;
}

void Tfrm_spec::bt_AddClick() {
    QString piece;
    if (!askPiece(piece))
        return;
    setText(me->text() + piece, -1);
    refresh();
}

void Tfrm_spec::bt_InsClick() {
    QString piece;
    if (!askPiece(piece))
        return;
    int caret = me->cursorPosition();
    if (gridLastUsed) {
        caret = 0;
        const int selected = grd_dst->currentRow();
        for (int r = 0; r < selected && r < grd_dst->rowCount(); ++r) {
            const QString code = cell(grd_dst, r, 0);
            caret += static_cast<int>((code.isEmpty() ? cell(grd_dst, r, 1) : code).size());
        }
    }
    QString text = me->text();
    caret = qBound(0, caret, static_cast<int>(text.size()));
    text.insert(caret, piece);
    setText(text, caret + static_cast<int>(piece.size()));
    refresh();
}

void Tfrm_spec::bt_DelClick() {
    if (gridLastUsed) {
        const int selected = grd_dst->currentRow();
        QString text;
        for (int r = 0; r < grd_dst->rowCount(); ++r) {
            if (r == selected)
                continue;
            const QString code = cell(grd_dst, r, 0);
            text += code.isEmpty() ? cell(grd_dst, r, 1) : code;
        }
        setText(text, -1);
    } else {
        const int caret = me->cursorPosition();
        QString text = me->text();
        if (caret < text.size()) {
            text.remove(caret, 1);
            setText(text, caret);
        }
    }
    refresh();
}

void Tfrm_spec::bt_OkClick() {
    if (calling_ != nullptr)
        calling_->setText(me->text());
    accept();
    if (calling_ != nullptr)
        calling_->setFocus();
}

bool Tfrm_spec::eventFilter(QObject* watched, QEvent* event) {
    if (watched == me && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Paste) || key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Delete)
            return true;
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier)) {
            const QChar ch = text.at(0);
            if (!(ch.isDigit() && ch.unicode() < 128) && ch != QLatin1Char('*'))
                return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == me) {
                gridLastUsed = false;
                refresh();
            } else if (watched == grd_dst) {
                gridLastUsed = true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace zirezid
