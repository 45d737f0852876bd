#include "serial/port_settings.h"

#include <stdexcept>
#include <string>

namespace serial {

void TVaPersistent::Changed() {
    if (FUpdateCount == 0 && OnChange)
        OnChange(this);
}

void TVaPersistent::EndUpdate() {
    if (FUpdateCount > 0)
        --FUpdateCount;
    Changed();
}

void TVaPersistent::Assign(const TVaPersistent& Source) {
    throw std::invalid_argument(std::string("Cannot assign a ") + Source.ClassName() + " to a " + ClassName());
}

void TVaBuffers::Assign(const TVaPersistent& Source) {
    const auto* src = dynamic_cast<const TVaBuffers*>(&Source);
    if (src == nullptr)
        return TVaPersistent::Assign(Source);
    BeginUpdate();
    SetReadSize(src->FReadSize);
    SetWriteSize(src->FWriteSize);
    SetReadTimeout(src->FReadTimeout);
    SetWriteTimeout(src->FWriteTimeout);
    SetXonLimit(src->FXonLimit);
    SetXoffLimit(src->FXoffLimit);
    EndUpdate();
}

void TVaBuffers::SetValue(int& Field, int Value, bool Notify) {
    if (Value < 0)
        throw std::out_of_range("Value " + std::to_string(Value) + " must be between 0 and 2147483647");
    if (Field == Value)
        return;
    Field = Value;
    if (Notify)
        Changed();
}

void TVaBuffers::SetReadSize(int Value) { SetValue(FReadSize, Value, true); }
void TVaBuffers::SetWriteSize(int Value) { SetValue(FWriteSize, Value, true); }
void TVaBuffers::SetReadTimeout(int Value) { SetValue(FReadTimeout, Value, false); }
void TVaBuffers::SetWriteTimeout(int Value) { SetValue(FWriteTimeout, Value, false); }
void TVaBuffers::SetXonLimit(int Value) { SetValue(FXonLimit, Value, true); }
void TVaBuffers::SetXoffLimit(int Value) { SetValue(FXoffLimit, Value, true); }

void TVaEventChars::Assign(const TVaPersistent& Source) {
    const auto* src = dynamic_cast<const TVaEventChars*>(&Source);
    if (src == nullptr)
        return TVaPersistent::Assign(Source);
    BeginUpdate();
    for (int i = 1; i <= 5; ++i)
        SetEventChar(i, src->FChars[i - 1]);
    EndUpdate();
}

void TVaEventChars::SetEventChar(int Index, char Value) {
    if (Index < 1 || Index > 5)
        return;
    FChars[Index - 1] = Value;
    Changed();
}

unsigned DtrControlBits(TVaControlDtr Value) {
    static constexpr unsigned bits[] = {0, 0x10, 0x20};
    return bits[Value];
}

unsigned RtsControlBits(TVaControlRts Value) {
    static constexpr unsigned bits[] = {0, 0x1000, 0x2000, 0x3000};
    return bits[Value];
}

void TVaFlowControl::Assign(const TVaPersistent& Source) {
    const auto* src = dynamic_cast<const TVaFlowControl*>(&Source);
    if (src == nullptr)
        return TVaPersistent::Assign(Source);
    BeginUpdate();
    SetOutCtsFlow(src->FOutCtsFlow);
    SetOutDsrFlow(src->FOutDsrFlow);
    SetControlDtr(src->FControlDtr);
    SetControlRts(src->FControlRts);
    SetXonXoffOut(src->FXonXoffOut);
    SetXonXoffIn(src->FXonXoffIn);
    SetDsrSensitivity(src->FDsrSensitivity);
    SetTxContinueOnXoff(src->FTxContinueOnXoff);
    EndUpdate();
}

} // namespace serial
