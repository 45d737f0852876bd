#include "editors/ted_timetable.h"

#include "model/tables.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QTabBar>
#include <QTabWidget>
#include <QKeyEvent>
#include <QTimeEdit>
#include <QToolTip>
#include <QVBoxLayout>

namespace zirezid {

namespace {
const QString kWorkPage = QStringLiteral("Режим работы");
const QString kDayStart = QStringLiteral("Время начала рабочего дня");
const QString kDayEnd = QStringLiteral("Время конца рабочего дня");
const QString kDays[7] = {QStringLiteral("Понедельник"), QStringLiteral("Вторник"), QStringLiteral("Среда"),
                          QStringLiteral("Четверг"),     QStringLiteral("Пятница"), QStringLiteral("Суббота"),
                          QStringLiteral("Воскресенье")};
const QString kHolidayPage = QStringLiteral("Праздники");
const QString kHoliday = QStringLiteral("Праздник[%1]");
const QString kUseHeading = QStringLiteral("Учитывать данные\nдля праздника");
const QString kStartHeading = QStringLiteral("Дата начала\nпраздника");
const QString kEndHeading = QStringLiteral("Дата конца\nпраздника");
const QString kFrom = QStringLiteral("с");
const QString kTo = QStringLiteral("по");
// The pickers live in the leap year 2000 so that 29 February can be entered.
const QDate kFirstDay(2000, 1, 1);
const QDate kLastDay(2000, 12, 31);
const QString kTimeForm = QStringLiteral("HH:mm");
const QString kImpossibleTime = QStringLiteral("Такого времени нет: часы от 00 до 23, минуты от 00 до 59.");
const QString kImpossibleDate =
    QStringLiteral("Такой даты нет: в месяце нет такого числа (февраль считается по 29-е), месяц от 01 до 12.");
const QString kDateForm = QStringLiteral("dd.MM");

QWidget* panel(QWidget* parent, const char* name) {
    auto* p = new QWidget(parent);
    p->setObjectName(QString::fromLatin1(name));
    auto* column = new QVBoxLayout(p);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    return p;
}

QTimeEdit* timePicker(QWidget* panelWidget, int number) {
    auto* picker = new QTimeEdit(panelWidget);
    picker->setObjectName(QStringLiteral("me_%1").arg(number));
    picker->setDisplayFormat(kTimeForm);
    picker->setDateRange(kFirstDay, kLastDay);
    panelWidget->layout()->addWidget(picker);
    return picker;
}

QDateEdit* datePicker(QWidget* panelWidget, int number) {
    auto* picker = new QDateEdit(panelWidget);
    picker->setObjectName(QStringLiteral("me_%1").arg(number));
    picker->setDisplayFormat(kDateForm);
    picker->setDateRange(kFirstDay, kLastDay);
    picker->setCalendarPopup(true);
    picker->setDate(kFirstDay);
    panelWidget->layout()->addWidget(picker);
    return picker;
}

QLabel* heading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignCenter);
    return label;
}
} // namespace

Ted_timetable::Ted_timetable(QWidget* parent) : TKT_EDITOR(parent) {
    setObjectName(QStringLiteral("ed_timetable"));
    setHeadingPicture(headingPicture(4));
    auto* top = new QVBoxLayout(pnl_middle);
    pages = new QTabWidget(pnl_middle);
    pages->setObjectName(QStringLiteral("pages"));
    pages->tabBar()->setUsesScrollButtons(false);
    pages->tabBar()->setExpanding(false);
    top->addWidget(pages);

    auto* workPage = new QWidget(pages);
    auto* workLayout = new QVBoxLayout(workPage);
    auto* workGroup = new QGroupBox(kWorkPage, workPage);
    auto* workGrid = new QGridLayout(workGroup);
    auto* dayNames = new QWidget(workGroup);
    auto* dayColumn = new QVBoxLayout(dayNames);
    dayColumn->setContentsMargins(0, 0, 0, 0);
    dayColumn->setSpacing(2);
    pl_DayStart = panel(workGroup, "pl_DayStart");
    pl_DayEnd = panel(workGroup, "pl_DayEnd");
    for (int d = 0; d < 7; ++d) {
        auto* name = new QLabel(kDays[d], dayNames);
        dayStart.push_back(timePicker(pl_DayStart, 21 + d));
        dayEnd.push_back(timePicker(pl_DayEnd, 31 + d));
        name->setFixedHeight(dayStart.back()->sizeHint().height());
        dayColumn->addWidget(name);
    }
    workGrid->addWidget(heading(kDayStart, workGroup), 0, 1);
    workGrid->addWidget(heading(kDayEnd, workGroup), 0, 2);
    workGrid->addWidget(dayNames, 1, 0);
    workGrid->addWidget(pl_DayStart, 1, 1);
    workGrid->addWidget(pl_DayEnd, 1, 2);
    workGrid->setRowStretch(2, 1);
    workLayout->addWidget(workGroup);
    pages->addTab(workPage, kWorkPage);

    auto* holidayPage = new QWidget(pages);
    auto* holidayLayout = new QVBoxLayout(holidayPage);
    auto* holidayGroup = new QGroupBox(kHolidayPage, holidayPage);
    auto* holidayGrid = new QGridLayout(holidayGroup);
    pl_UseHoliday = panel(holidayGroup, "pl_UseHoliday");
    pl_HolidayStart = panel(holidayGroup, "pl_HolidayStart");
    pl_HolidayEnd = panel(holidayGroup, "pl_HolidayEnd");
    auto* fromLabels = new QWidget(holidayGroup);
    auto* fromColumn = new QVBoxLayout(fromLabels);
    auto* toLabels = new QWidget(holidayGroup);
    auto* toColumn = new QVBoxLayout(toLabels);
    for (QVBoxLayout* column : {fromColumn, toColumn}) {
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(2);
    }
    for (int h = 0; h < 10; ++h) {
        holidayStart.push_back(datePicker(pl_HolidayStart, 50 + h));
        holidayEnd.push_back(datePicker(pl_HolidayEnd, 60 + h));
        const int rowHeight = holidayStart.back()->sizeHint().height();
        auto* check = new QCheckBox(kHoliday.arg(h), pl_UseHoliday);
        check->setObjectName(QStringLiteral("ch_%1").arg(40 + h));
        check->setFixedHeight(rowHeight);
        pl_UseHoliday->layout()->addWidget(check);
        useHoliday.push_back(check);
        auto* from = new QLabel(kFrom, fromLabels);
        from->setFixedHeight(rowHeight);
        fromColumn->addWidget(from);
        auto* to = new QLabel(kTo, toLabels);
        to->setFixedHeight(rowHeight);
        toColumn->addWidget(to);
    }
    holidayGrid->addWidget(heading(kUseHeading, holidayGroup), 0, 0);
    holidayGrid->addWidget(heading(kStartHeading, holidayGroup), 0, 2);
    holidayGrid->addWidget(heading(kEndHeading, holidayGroup), 0, 4);
    holidayGrid->addWidget(pl_UseHoliday, 1, 0);
    holidayGrid->addWidget(fromLabels, 1, 1);
    holidayGrid->addWidget(pl_HolidayStart, 1, 2);
    holidayGrid->addWidget(toLabels, 1, 3);
    holidayGrid->addWidget(pl_HolidayEnd, 1, 4);
    holidayGrid->setRowStretch(2, 1);
    holidayLayout->addWidget(holidayGroup);
    pages->addTab(holidayPage, kHolidayPage);

    // The pickers report their own leaving; their inner line edits forward the focus to them.
    for (QDateTimeEdit* picker : findChildren<QDateTimeEdit*>())
        picker->installEventFilter(this);
}

QDateTimeEdit* Ted_timetable::pickerOf(QObject* object) const {
    for (QObject* o = object; o != nullptr && o != pnl_middle; o = o->parent())
        if (auto* picker = qobject_cast<QDateTimeEdit*>(o))
            return picker;
    return nullptr;
}

void Ted_timetable::loadPicker(QDateTimeEdit* picker, const std::string& key) {
    KT_RECORD* record = boundObject != nullptr ? boundObject->findChild(key) : nullptr;
    setTag(picker, record);
    picker->setEnabled(record != nullptr);
    if (record == nullptr)
        return;
    const QString text = QString::fromStdString(record->getEditText());
    if (qobject_cast<QDateEdit*>(picker) != nullptr)
        picker->setDate(QDate::fromString(text + QStringLiteral(".2000"), QStringLiteral("dd.MM.yyyy")));
    else
        picker->setTime(QTime::fromString(text, kTimeForm));
    const QString hint = QString::fromStdString(record->value->getDescription());
    picker->setToolTip(hint);
    picker->setStatusTip(hint);
}

void Ted_timetable::bindObject(KT_TABLE* object) {
    unbindControls();
    boundObject = object;
    // Binding by position: the n-th control of a panel, top to bottom, edits the n-th field of its group.
    const auto bindPanel = [&](QWidget* panelWidget, const QString& stem, int first) {
        int n = 0;
        for (QWidget* control : panelWidget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            const std::string key = (stem + QString::number(first + n) + QStringLiteral("]")).toStdString();
            if (auto* picker = qobject_cast<QDateTimeEdit*>(control)) {
                loadPicker(picker, key);
                ++n;
            } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
                loadControl(check, key.c_str());
                ++n;
            }
        }
    };
    bindPanel(pl_DayStart, QStringLiteral("DayStart["), 1);
    bindPanel(pl_DayEnd, QStringLiteral("DayEnd["), 1);
    bindPanel(pl_UseHoliday, QStringLiteral("UseHoliday["), 0);
    bindPanel(pl_HolidayStart, QStringLiteral("HolidayStart["), 0);
    bindPanel(pl_HolidayEnd, QStringLiteral("HolidayEnd["), 0);
    TKT_EDITOR::bindObject(object);
}

void Ted_timetable::controlExit(QWidget* control) {
    QDateTimeEdit* picker = pickerOf(control);
    if (picker == nullptr) {
        TKT_EDITOR::controlExit(control);
        return;
    }
    KT_RECORD* record = tag(picker);
    if (record == nullptr)
        return;
    const bool isDate = qobject_cast<QDateEdit*>(picker) != nullptr;
    const QString text =
        isDate ? picker->date().toString(QStringLiteral("ddMM")) : picker->time().toString(QStringLiteral("HHmm"));
    if (!record->setEditText(text.toStdString()))
        picker->setFocus();
    const QString stored = QString::fromStdString(record->getEditText());
    if (isDate)
        picker->setDate(QDate::fromString(stored + QStringLiteral(".2000"), QStringLiteral("dd.MM.yyyy")));
    else
        picker->setTime(QTime::fromString(stored, kTimeForm));
    if (boundObject != nullptr)
        stCaption->setText(QString::fromStdString(boundObject->getDescription()));
}

bool Ted_timetable::typeIntoPicker(QDateTimeEdit* picker, QKeyEvent* key) {
    const QString before = picker->text();
    const QDateTime was = picker->dateTime();
    const QDateTimeEdit::Section typedInto = picker->currentSection();
    static_cast<QObject*>(picker)->event(key); // the picker's own typing, run here to see what it made of it
    const QDateTime now = picker->dateTime();
    // The picker drops a digit that makes no time or date, and it moves a day that the month lacks to the
    // month's last day; either way the technician would not learn that the entry was not what was typed.
    bool quietlyChanged = false;
    if (qobject_cast<QDateEdit*>(picker) != nullptr)
        quietlyChanged = typedInto != QDateTimeEdit::DaySection && now.date().day() != was.date().day();
    const bool dropped = picker->text() == before;
    if (!dropped && !quietlyChanged)
        return true;
    if (quietlyChanged)
        picker->setDateTime(was);
    lastRefusal = qobject_cast<QDateEdit*>(picker) != nullptr ? kImpossibleDate : kImpossibleTime;
    QToolTip::showText(picker->mapToGlobal(QPoint(0, picker->height())), lastRefusal, picker);
    return true;
}

bool Ted_timetable::eventFilter(QObject* watched, QEvent* event) {
    if (QDateTimeEdit* picker = pickerOf(watched); picker != nullptr && watched == picker) {
        if (event->type() == QEvent::Wheel)
            return true; // a passing mouse wheel sets no time
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            const QString text = key->text();
            if (text.size() == 1 && text.at(0).isDigit() && !(key->modifiers() & Qt::ControlModifier))
                return typeIntoPicker(picker, key);
        }
        if (attached() && event->type() == QEvent::FocusOut) {
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            // Opening the calendar or switching windows is not leaving the picker.
            if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
                controlExit(picker);
        }
        return false;
    }
    return TKT_EDITOR::eventFilter(watched, event);
}

} // namespace zirezid
