#include "editors/ted_lines.h"

#include "model/tables.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kDayMenu = QStringLiteral("Дневное меню");
const QString kNightMenu = QStringLiteral("Ночное меню");
const QString kHolidayMenu = QStringLiteral("Меню выходного дня");
const QString kSetupAllowed = QStringLiteral("Разрешить настройку с этой линии");
const QString kMBAccessAllowed = QStringLiteral("Разрешить доступ к почтовым ящикам с этой линии");
const QString kPassthrough = QStringLiteral("Сразу соединять с внешней линией");
constexpr int kMenuListRows = 20;

QCheckBox* checkBox(QWidget* parent, const char* name, const QString& caption) {
    auto* check = new QCheckBox(caption, parent);
    check->setObjectName(QString::fromLatin1(name));
    return check;
}

QComboBox* menuList(QWidget* parent, const char* name) {
    auto* combo = new QComboBox(parent);
    combo->setObjectName(QString::fromLatin1(name));
    combo->setMaxVisibleItems(kMenuListRows);
    combo->setMinimumContentsLength(24);
    return combo;
}

// The captions of every menu of the database the line belongs to, in order.
QStringList menuCaptions(const KT_TABLE* object) {
    const KT_TABLE* root = object;
    while (root != nullptr && root->ownerRecord != nullptr && root->ownerRecord->ownerTable != nullptr)
        root = root->ownerRecord->ownerTable;
    QStringList list;
    if (KT_TABLE* menus = root != nullptr ? root->findTable("MENUS") : nullptr)
        for (int i = 0; i < menus->childCount(); ++i)
            if (KT_TABLE* menu = menus->tableAt(i))
                list << QString::fromStdString(menu->getDescription());
    return list;
}
} // namespace

Ted_trk::Ted_trk(QWidget* parent) : TKT_FIELD_EDITOR(parent) {
    setObjectName(QStringLiteral("ed_trk"));
    setHeadingPicture(headingPicture(7));
    auto* top = new QVBoxLayout(pnl_middle);
    auto* group = new QGroupBox(pnl_middle);
    auto* inner = new QVBoxLayout(group);
    auto* form = new QFormLayout;
    cb_DayMenu = menuList(group, "cb_DayMenu");
    cb_NightMenu = menuList(group, "cb_NightMenu");
    cb_HolidayMenu = menuList(group, "cb_HolidayMenu");
    form->addRow(kDayMenu, cb_DayMenu);
    form->addRow(kNightMenu, cb_NightMenu);
    form->addRow(kHolidayMenu, cb_HolidayMenu);
    inner->addLayout(form);
    ch_SetupAllowed = checkBox(group, "ch_SetupAllowed", kSetupAllowed);
    ch_MBAccessAllowed = checkBox(group, "ch_MBAccessAllowed", kMBAccessAllowed);
    inner->addWidget(ch_SetupAllowed);
    inner->addWidget(ch_MBAccessAllowed);
    top->addWidget(group);
    top->addStretch();
    bindings = {{cb_DayMenu, "DayMenu"},
                {cb_NightMenu, "NightMenu"},
                {cb_HolidayMenu, "HolidayMenu"},
                {ch_SetupAllowed, "SetupAllowed"},
                {ch_MBAccessAllowed, "MBAccessAllowed"}};
}

void Ted_trk::bindObject(KT_TABLE* object) {
    unbindControls();
    const QStringList menus = menuCaptions(object);
    for (QComboBox* combo : {cb_DayMenu, cb_NightMenu, cb_HolidayMenu}) {
        combo->clear();
        combo->addItems(menus);
    }
    TKT_FIELD_EDITOR::bindObject(object);
    // A menu number beyond the list shows no entry rather than some other menu.
    for (QComboBox* combo : {cb_DayMenu, cb_NightMenu, cb_HolidayMenu}) {
        if (KT_RECORD* record = tag(combo)) {
            const int position = QString::fromStdString(record->getEditText()).toInt();
            combo->setCurrentIndex(position >= 0 && position < combo->count() ? position : -1);
        }
    }
}

void Ted_trk::controlExit(QWidget* control) {
    // Leaving a list that shows no entry keeps its stored number instead of storing "no position".
    if (auto* combo = qobject_cast<QComboBox*>(control); combo != nullptr && combo->currentIndex() < 0)
        return;
    TKT_FIELD_EDITOR::controlExit(control);
}

Ted_slp::Ted_slp(QWidget* parent) : TKT_FIELD_EDITOR(parent) {
    setObjectName(QStringLiteral("ed_slp"));
    setHeadingPicture(headingPicture(7));
    auto* top = new QVBoxLayout(pnl_middle);
    auto* group = new QGroupBox(pnl_middle);
    auto* inner = new QVBoxLayout(group);
    ch_SetupAllowed = checkBox(group, "ch_SetupAllowed", kSetupAllowed);
    ch_MBAccessAllowed = checkBox(group, "ch_MBAccessAllowed", kMBAccessAllowed);
    ch_Passthrough = checkBox(group, "ch_Passthrough", kPassthrough);
    inner->addWidget(ch_SetupAllowed);
    inner->addWidget(ch_MBAccessAllowed);
    inner->addWidget(ch_Passthrough);
    top->addWidget(group);
    top->addStretch();
    bindings = {
        {ch_Passthrough, "Passthrough"}, {ch_SetupAllowed, "SetupAllowed"}, {ch_MBAccessAllowed, "MBAccessAllowed"}};
}

void Ted_slp::bindObject(KT_TABLE* object) {
    TKT_FIELD_EDITOR::bindObject(object);
    ch_PassthroughChanged();
}

void Ted_slp::ch_PassthroughChanged() {
    const bool through = ch_Passthrough->isChecked();
    ch_SetupAllowed->setEnabled(!through && tag(ch_SetupAllowed) != nullptr);
    ch_MBAccessAllowed->setEnabled(!through && tag(ch_MBAccessAllowed) != nullptr);
}

void Ted_slp::controlExit(QWidget* control) {
    TKT_FIELD_EDITOR::controlExit(control);
    if (control == ch_Passthrough)
        ch_PassthroughChanged();
}

void Ted_slp::controlClick(QWidget* control) {
    TKT_FIELD_EDITOR::controlClick(control);
    if (control == ch_Passthrough)
        ch_PassthroughChanged();
}

} // namespace zirezid
