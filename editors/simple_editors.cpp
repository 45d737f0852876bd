#include "editors/simple_editors.h"

#include "model/tables.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

namespace zirezid {

namespace {
// System parameters.
const QString kPasswordGroup = QStringLiteral("Пароль настройки");
const QString kPulseDialing = QStringLiteral("Тип набора на внешних линиях");
const QString kTone = QStringLiteral("тональный");
const QString kPulse = QStringLiteral("импульсный");
const QString kGainRx = QStringLiteral("Уровень усиления по приему (дБ+12)");
const QString kGainTx = QStringLiteral("Уровень усиления по передаче (дБ+12)");
const QString kAgc = QStringLiteral("АРУ");
const QString kAgcOn = QStringLiteral("вкл.");
const QString kAgcOff = QStringLiteral("выкл.");
const QString kRings = QStringLiteral("Число звонков до ответа на вызов");
const QString kWaitAfterPickup = QStringLiteral("Пауза перед началом работы, мс");
const QString kInDisc = QStringLiteral("Время реакции на разрыв шлейфа, мс");
const QString kFlashLen = QStringLiteral("Длительность FLASH, мс");
const QString kFlashPass = QStringLiteral("Транслировать FLASH на внешнюю линию");
// Mailbox.
const QString kBoxPassword = QStringLiteral("Пароль владельца ящика");
const QString kMaxSize = QStringLiteral("Емкость ящика в минутах");
const QString kMaxMsgs = QStringLiteral("Максимальное количество сообщений в ящике");
const QString kDaysToKeep = QStringLiteral("Количество дней хранения сообщения");
const QString kAutoRemove = QStringLiteral("Автоматически удалять старые сообщения при переполнении ящика");
const QString kOrder = QStringLiteral("Сообщения воспроизводятся");
const QString kInOrder = QStringLiteral("в порядке поступления");
const QString kReverse = QStringLiteral("в обратном порядке");

KtMaskEdit* maskEdit(QWidget* parent, const char* name) {
    auto* edit = new KtMaskEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaximumWidth(120);
    return edit;
}

KtRadioGroup* radioGroup(QWidget* parent, const char* name, const QString& title, const QStringList& items) {
    auto* group = new KtRadioGroup(title, items, 2, parent);
    group->setObjectName(QString::fromLatin1(name));
    return group;
}

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& caption) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(QString::fromLatin1(name));
    return check;
}
} // namespace

void TKT_FIELD_EDITOR::bindObject(KT_TABLE* object) {
    unbindControls();
    boundObject = object;
    for (const FieldBinding& binding : bindings)
        loadControl(binding.control, binding.key);
    TKT_EDITOR::bindObject(object);
}

Ted_sysparam::Ted_sysparam(QWidget* parent) : TKT_FIELD_EDITOR(parent) {
    setObjectName(QStringLiteral("ed_sysparam"));
    setHeadingPicture(headingPicture(0));
    auto* top = new QVBoxLayout(pnl_middle);
    auto* passwordGroup = new QGroupBox(kPasswordGroup, pnl_middle);
    auto* passwordRow = new QVBoxLayout(passwordGroup);
    ed_password = maskEdit(passwordGroup, "ed_password");
    passwordRow->addWidget(ed_password);
    top->addWidget(passwordGroup);
    rg_PulseDialing = radioGroup(pnl_middle, "rg_PulseDialing", kPulseDialing, {kTone, kPulse});
    top->addWidget(rg_PulseDialing);
    auto* gains = new QFormLayout;
    ed_GainRxdB12 = maskEdit(pnl_middle, "ed_GainRxdB12");
    ed_GainTxdB12 = maskEdit(pnl_middle, "ed_GainTxdB12");
    gains->addRow(kGainRx, ed_GainRxdB12);
    gains->addRow(kGainTx, ed_GainTxdB12);
    top->addLayout(gains);
    rg_AGCDisabled = radioGroup(pnl_middle, "rg_AGCDisabled", kAgc, {kAgcOn, kAgcOff});
    top->addWidget(rg_AGCDisabled);
    auto* timings = new QFormLayout;
    ed_NRingsToPickup = maskEdit(pnl_middle, "ed_NRingsToPickup");
    ed_WaitAfterPickupMs = maskEdit(pnl_middle, "ed_WaitAfterPickupMs");
    ed_InDiscLenMs = maskEdit(pnl_middle, "ed_InDiscLenMs");
    ed_FlashLenMs = maskEdit(pnl_middle, "ed_FlashLenMs");
    timings->addRow(kRings, ed_NRingsToPickup);
    timings->addRow(kWaitAfterPickup, ed_WaitAfterPickupMs);
    timings->addRow(kInDisc, ed_InDiscLenMs);
    timings->addRow(kFlashLen, ed_FlashLenMs);
    top->addLayout(timings);
    ch_FlashPassthrough = checkBox(pnl_middle, "ch_FlashPassthrough", kFlashPass);
    top->addWidget(ch_FlashPassthrough);
    top->addStretch();
    bindings = {{ed_password, "Password"},
                {rg_PulseDialing, "PulseDialing"},
                {ed_GainRxdB12, "GainRxdB12"},
                {ed_GainTxdB12, "GainTxdB12"},
                {rg_AGCDisabled, "AGCDisabled"},
                {ed_NRingsToPickup, "NRingsToPickup"},
                {ed_WaitAfterPickupMs, "WaitAfterPickupMs"},
                {ed_InDiscLenMs, "InDiscLenMs"},
                {ed_FlashLenMs, "FlashLenMs"},
                {ch_FlashPassthrough, "FlashPassthrough"}};
}

Ted_mailbox::Ted_mailbox(QWidget* parent) : TKT_FIELD_EDITOR(parent) {
    setObjectName(QStringLiteral("ed_mailbox"));
    setHeadingPicture(headingPicture(6));
    auto* top = new QVBoxLayout(pnl_middle);
    auto* group = new QGroupBox(pnl_middle);
    auto* inner = new QVBoxLayout(group);
    auto* form = new QFormLayout;
    me_Password = maskEdit(group, "me_Password");
    me_MaxSizeMin = maskEdit(group, "me_MaxSizeMin");
    me_MaxMsgs = maskEdit(group, "me_MaxMsgs");
    me_DaysToKeep = maskEdit(group, "me_DaysToKeep");
    form->addRow(kBoxPassword, me_Password);
    form->addRow(kMaxSize, me_MaxSizeMin);
    form->addRow(kMaxMsgs, me_MaxMsgs);
    form->addRow(kDaysToKeep, me_DaysToKeep);
    inner->addLayout(form);
    ch_AutoRemoveOld = checkBox(group, "ch_AutoRemoveOld", kAutoRemove);
    inner->addWidget(ch_AutoRemoveOld);
    rg_ReverseOrder = radioGroup(group, "rg_ReverseOrder", kOrder, {kInOrder, kReverse});
    inner->addWidget(rg_ReverseOrder);
    top->addWidget(group);
    top->addStretch();
    bindings = {{me_Password, "Password"},     {me_MaxSizeMin, "MaxSizeMin"},       {me_MaxMsgs, "MaxMsgs"},
                {me_DaysToKeep, "DaysToKeep"}, {ch_AutoRemoveOld, "AutoRemoveOld"}, {rg_ReverseOrder, "ReverseOrder"}};
}

Ted_base::Ted_base(QWidget* parent) : TKT_EDITOR(parent) {
    setObjectName(QStringLiteral("ed_base"));
    setHeadingPicture(headingPicture(1));
    auto* top = new QVBoxLayout(pnl_middle);
    lb = new QListWidget(pnl_middle);
    lb->setObjectName(QStringLiteral("lb"));
    lb->setSelectionMode(QAbstractItemView::SingleSelection);
    QPalette grey = lb->palette();
    grey.setColor(QPalette::Base, QColor(0xE0, 0xE0, 0xE0));
    lb->setPalette(grey);
    top->addWidget(lb, 1);
    auto* empty = new QGroupBox(pnl_middle);
    empty->setFixedHeight(40);
    top->addWidget(empty);
    connect(lb, &QListWidget::itemDoubleClicked, this, &Ted_base::lbDblClick);
}

void Ted_base::bindObject(KT_TABLE* object) {
    boundObject = object;
    lb->clear();
    if (object == nullptr) {
        stCaption->clear();
        return;
    }
    stCaption->setText(QString::fromStdString(object->getDescription()));
    KT_STRING_LIST lines;
    object->fillList(lines);
    for (const KT_LIST_LINE& line : lines) {
        auto* item = new QListWidgetItem(QString::fromStdString(line.text), lb);
        item->setData(Qt::UserRole, QVariant::fromValue(static_cast<void*>(line.record)));
    }
    const std::string cls = object->className();
    if (cls == "KT_BASE")
        setHeadingPicture(headingPicture(1));
    else if (cls == "KT_TABLE_TRKS" || cls == "KT_TABLE_SLPS")
        setHeadingPicture(headingPicture(7));
    else if (cls == "KT_TABLE_MENUS")
        setHeadingPicture(headingPicture(5));
    else if (cls == "KT_TABLE_MAILBOXES")
        setHeadingPicture(headingPicture(6));
    listAttached_ = true;
}

void Ted_base::unbindControls() {
    TKT_EDITOR::unbindControls();
    listAttached_ = false;
}

void Ted_base::lbDblClick(QListWidgetItem* item) {
    if (!listAttached_ || item == nullptr || ownerWindow == nullptr)
        return;
    auto* record = static_cast<KT_RECORD*>(item->data(Qt::UserRole).value<void*>());
    if (record == nullptr)
        return;
    if (KT_TABLE* child = record->table())
        ownerWindow->selectObjectNode(*child);
}

void Ted_empty::bindObject(KT_TABLE* object) {
    boundObject = object;
    stCaption->setText(object != nullptr ? QString::fromStdString(object->getDescription()) : QString());
}

} // namespace zirezid
