// Ted_timetable, the editor of the weekly timetable: the start and end of the working day for each weekday,
// and ten holiday periods, each with an on/off box and a first and last day. Its controls are bound by
// position in their panels; the date and time pickers store themselves, which the base does not do.
#pragma once

#include "editors/editor_base.h"

#include <vector>

class QCheckBox;
class QDateEdit;
class QDateTimeEdit;
class QKeyEvent;
class QTabWidget;
class QTimeEdit;

namespace zirezid {

class Ted_timetable : public TKT_EDITOR {
    Q_OBJECT
public:
    explicit Ted_timetable(QWidget* parent = nullptr);
    void bindObject(KT_TABLE* object) override;
    void controlExit(QWidget* control) override;

    QTabWidget* pages;
    QWidget* pl_DayStart;
    QWidget* pl_DayEnd;
    QWidget* pl_UseHoliday;
    QWidget* pl_HolidayStart;
    QWidget* pl_HolidayEnd;
    // me_21..me_27, me_31..me_37, ch_40..ch_49, me_50..me_59, me_60..me_69.
    std::vector<QTimeEdit*> dayStart;
    std::vector<QTimeEdit*> dayEnd;
    std::vector<QCheckBox*> useHoliday;
    std::vector<QDateEdit*> holidayStart;
    std::vector<QDateEdit*> holidayEnd;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void loadPicker(QDateTimeEdit* picker, const std::string& key);
    QDateTimeEdit* pickerOf(QObject* object) const;
    // Runs a typed digit through the picker; an entry the picker drops or bends is undone and told about.
    bool typeIntoPicker(QDateTimeEdit* picker, QKeyEvent* key);
};

} // namespace zirezid
