// The editor frames that only say which control edits which field (system parameters, mailbox), the list frame of
// the grouping objects, and the blank frame.
#pragma once

#include "editors/editor_base.h"

class QCheckBox;
class QListWidget;
class QListWidgetItem;

namespace zirezid {

// One row of a field-bound editor: the control and the key of the field it edits, in the editor's table order.
struct FieldBinding {
    QWidget* control;
    const char* key;
};

// A frame whose controls are bound one by one by field key.
class TKT_FIELD_EDITOR : public TKT_EDITOR {
    Q_OBJECT
public:
    using TKT_EDITOR::TKT_EDITOR;
    void bindObject(KT_TABLE* object) override;

protected:
    std::vector<FieldBinding> bindings;
};

class Ted_sysparam : public TKT_FIELD_EDITOR {
    Q_OBJECT
public:
    explicit Ted_sysparam(QWidget* parent = nullptr);
    KtMaskEdit* ed_password;
    KtRadioGroup* rg_PulseDialing;
    KtMaskEdit* ed_GainRxdB12;
    KtMaskEdit* ed_GainTxdB12;
    KtRadioGroup* rg_AGCDisabled;
    KtMaskEdit* ed_NRingsToPickup;
    KtMaskEdit* ed_WaitAfterPickupMs;
    KtMaskEdit* ed_InDiscLenMs;
    KtMaskEdit* ed_FlashLenMs;
    QCheckBox* ch_FlashPassthrough;
};

class Ted_mailbox : public TKT_FIELD_EDITOR {
    Q_OBJECT
public:
    explicit Ted_mailbox(QWidget* parent = nullptr);
    KtMaskEdit* me_Password;
    KtMaskEdit* me_MaxSizeMin;
    KtMaskEdit* me_MaxMsgs;
    KtMaskEdit* me_DaysToKeep;
    QCheckBox* ch_AutoRemoveOld;
    KtRadioGroup* rg_ReverseOrder;
};

// The list of a grouping object's children; a double click jumps to the child's own node.
class Ted_base : public TKT_EDITOR {
    Q_OBJECT
public:
    explicit Ted_base(QWidget* parent = nullptr);
    void bindObject(KT_TABLE* object) override;
    void unbindControls() override;
    QListWidget* lb;

private:
    void lbDblClick(QListWidgetItem* item);
    bool listAttached_ = false;
};

class Ted_empty : public TKT_EDITOR {
    Q_OBJECT
public:
    using TKT_EDITOR::TKT_EDITOR;
    void bindObject(KT_TABLE* object) override;
};

} // namespace zirezid
