// The three groups of port settings (queue sizes and time-outs, special characters, flow control), each
// assignable as a whole and reporting its changes to the port through one callback.
#pragma once

#include <functional>

namespace serial {

class TVaPersistent {
public:
    using TVaChangeEvent = std::function<void(TVaPersistent* Sender)>;

    virtual ~TVaPersistent() = default;

    // Calls OnChange unless an update is in progress.
    void Changed();
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // Copies the values of an object of the same class (one change notice); anything else throws
    // std::invalid_argument("Cannot assign a X to a Y").
    virtual void Assign(const TVaPersistent& Source);
    virtual const char* ClassName() const { return "TVaPersistent"; }

    TVaChangeEvent OnChange;

protected:
    TVaPersistent() = default;
    TVaPersistent(const TVaPersistent&) = default;
    TVaPersistent& operator=(const TVaPersistent&) = default;

private:
    int FUpdateCount = 0;
};

// Sizes and limits are 0 ... 2147483647; a negative value is refused with std::out_of_range.
class TVaBuffers : public TVaPersistent {
public:
    TVaBuffers() = default;
    void Assign(const TVaPersistent& Source) override;
    const char* ClassName() const override { return "TVaBuffers"; }

    int ReadSize() const { return FReadSize; }
    int WriteSize() const { return FWriteSize; }
    int ReadTimeout() const { return FReadTimeout; }
    int WriteTimeout() const { return FWriteTimeout; }
    int XonLimit() const { return FXonLimit; }
    int XoffLimit() const { return FXoffLimit; }
    void SetReadSize(int Value);
    void SetWriteSize(int Value);
    // The two time-outs are read when used, so they change without a notice.
    void SetReadTimeout(int Value);
    void SetWriteTimeout(int Value);
    void SetXonLimit(int Value);
    void SetXoffLimit(int Value);

private:
    void SetValue(int& Field, int Value, bool Notify);
    int FReadSize = 4096;
    int FWriteSize = 2048;
    int FReadTimeout = 1000;
    int FWriteTimeout = 1000;
    int FXonLimit = 1024;
    int FXoffLimit = 1024;
};

class TVaEventChars : public TVaPersistent {
public:
    TVaEventChars() = default;
    void Assign(const TVaPersistent& Source) override;
    const char* ClassName() const override { return "TVaEventChars"; }

    char XonChar() const { return FChars[0]; }
    char XoffChar() const { return FChars[1]; }
    char ErrorChar() const { return FChars[2]; }
    char EventChar() const { return FChars[3]; }
    char EofChar() const { return FChars[4]; }
    void SetXonChar(char Value) { SetEventChar(1, Value); }
    void SetXoffChar(char Value) { SetEventChar(2, Value); }
    void SetErrorChar(char Value) { SetEventChar(3, Value); }
    void SetEventCharValue(char Value) { SetEventChar(4, Value); }
    void SetEofChar(char Value) { SetEventChar(5, Value); }

    // Index 1 XonChar, 2 XoffChar, 3 ErrorChar, 4 EventChar, 5 EofChar; notifies on every call, even when the
    // value is the same. Any other index is ignored.
    void SetEventChar(int Index, char Value);

private:
    char FChars[5] = {17, 19, 0, 0, 0};
};

enum TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };

// The DCB flag bits of the DTR and RTS controls (kept for callers that build the flag word).
unsigned DtrControlBits(TVaControlDtr Value);
unsigned RtsControlBits(TVaControlRts Value);

class TVaFlowControl : public TVaPersistent {
public:
    TVaFlowControl() = default;
    void Assign(const TVaPersistent& Source) override;
    const char* ClassName() const override { return "TVaFlowControl"; }

    bool OutCtsFlow() const { return FOutCtsFlow; }
    bool OutDsrFlow() const { return FOutDsrFlow; }
    TVaControlDtr ControlDtr() const { return FControlDtr; }
    TVaControlRts ControlRts() const { return FControlRts; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetOutCtsFlow(bool Value) { Set(FOutCtsFlow, Value); }
    void SetOutDsrFlow(bool Value) { Set(FOutDsrFlow, Value); }
    void SetControlDtr(TVaControlDtr Value) { Set(FControlDtr, Value); }
    void SetControlRts(TVaControlRts Value) { Set(FControlRts, Value); }
    void SetXonXoffOut(bool Value) { Set(FXonXoffOut, Value); }
    void SetXonXoffIn(bool Value) { Set(FXonXoffIn, Value); }
    void SetDsrSensitivity(bool Value) { Set(FDsrSensitivity, Value); }
    void SetTxContinueOnXoff(bool Value) { Set(FTxContinueOnXoff, Value); }

private:
    template <class T> void Set(T& Field, T Value) {
        if (Field != Value) {
            Field = Value;
            Changed();
        }
    }
    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TVaControlDtr FControlDtr = dtrDisabled;
    TVaControlRts FControlRts = rtsDisabled;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = false;
};

} // namespace serial
