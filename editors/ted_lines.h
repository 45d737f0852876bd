// The editors of a trunk line (its day, night and holiday menus and two permissions) and of an operator line
// (two permissions that do not apply while the line is switched straight through to a trunk).
#pragma once

#include "editors/simple_editors.h"

class QCheckBox;
class QComboBox;

namespace zirezid {

class Ted_trk : public TKT_FIELD_EDITOR {
    Q_OBJECT
public:
    explicit Ted_trk(QWidget* parent = nullptr);
    void bindObject(KT_TABLE* object) override;
    void controlExit(QWidget* control) override;

    QComboBox* cb_DayMenu;
    QComboBox* cb_NightMenu;
    QComboBox* cb_HolidayMenu;
    QCheckBox* ch_SetupAllowed;
    QCheckBox* ch_MBAccessAllowed;
};

class Ted_slp : public TKT_FIELD_EDITOR {
    Q_OBJECT
public:
    explicit Ted_slp(QWidget* parent = nullptr);
    void bindObject(KT_TABLE* object) override;
    void controlExit(QWidget* control) override;
    void controlClick(QWidget* control) override;

    QCheckBox* ch_SetupAllowed;
    QCheckBox* ch_MBAccessAllowed;
    QCheckBox* ch_Passthrough;

private:
    void ch_PassthroughChanged();
};

} // namespace zirezid
