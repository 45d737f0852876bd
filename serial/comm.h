// The serial port object: owns the open device, applies the line settings, reads and writes bytes, purges,
// reports line errors and drives the modem lines. Its event and write threads hand every notification to the
// main thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "serial/component.h"
#include "serial/dispatcher.h"
#include "serial/port_settings.h"
#include "serial/sync.h"

namespace serial {

class TVaDispatcher;
class TVaCustomComm;
class TVaCommEventThread;
class TVaCommWriteThread;
class IVaMainThread;

// Every failure of a port.
class EVaCommError : public std::runtime_error {
public:
    explicit EVaCommError(const std::string& Message) : std::runtime_error(Message) {}
};

inline constexpr const char* sMsgPortOpen = "Can't perform this operation while port is open";
inline constexpr const char* sMsgPortClosed = "Can't perform this operation while port is closed";
inline constexpr const char* sMsgNotFound = "Specified device not found (%s).";
inline constexpr const char* sMsgCantOpen = "Can't open specified device %s";
inline constexpr const char* sMsgCantOpenDetail = " (Error %d, %s)";
inline constexpr const char* sMsgEventMask = " Error setting EventMask (%d), %s";
inline constexpr const char* sMsgPurge = "Error clearing buffers (%d), %s";
inline constexpr const char* sMsgTimeouts = "Error setting timeouts (%d), %s";
inline constexpr const char* sMsgSetupComm = "Error initializing buffers (%d), %s";
inline constexpr const char* sMsgEscape = "Error calling comm function (%d), %s";
inline constexpr const char* sMsgProperties = "Error reading port properties (%d), %s";
inline constexpr const char* sMsgOutputFull = "Output buffer is full. Please check comm status.";
inline constexpr const char* sMsgWriteError = "Write error (%d), %s";
inline constexpr const char* sMsgReadError = "Read error (%d), %s";
inline constexpr const char* sMsgStatistics = "Error retrieving statistics (%d), %s";
inline constexpr const char* sMsgDtrHandshake = "DTR line updates not allowed when flowcontrol is set to Handshake.";
inline constexpr const char* sMsgRtsHandshake =
    "RTS line updates not allowed when flowcontrol is set to Handshake or Toggle.";
inline constexpr const char* sMsgDcb = "Error writing dcb (%d), %s";
inline constexpr const char* sMsgModemState = "Error reading modem state (%d), %s";

// Line event bits (the event word of the notifications).
inline constexpr std::uint32_t EV_RXCHAR = 0x1;
inline constexpr std::uint32_t EV_RXFLAG = 0x2;
inline constexpr std::uint32_t EV_TXEMPTY = 0x4;
inline constexpr std::uint32_t EV_CTS = 0x8;
inline constexpr std::uint32_t EV_DSR = 0x10;
inline constexpr std::uint32_t EV_RLSD = 0x20;
inline constexpr std::uint32_t EV_BREAK = 0x40;
inline constexpr std::uint32_t EV_ERR = 0x80;
inline constexpr std::uint32_t EV_RING = 0x100;
inline constexpr std::uint32_t EV_PERR = 0x200;
inline constexpr std::uint32_t EV_RX80FULL = 0x400;
inline constexpr std::uint32_t EV_EVENT1 = 0x800;
inline constexpr std::uint32_t EV_EVENT2 = 0x1000;

// Purge bits: what Purge clears (the write queue and the driver's output, the received bytes).
enum TVaPurgeFlag : unsigned {
    PURGE_TXABORT = 0x1,
    PURGE_RXABORT = 0x2,
    PURGE_TXCLEAR = 0x4,
    PURGE_RXCLEAR = 0x8,
};
inline constexpr unsigned PURGE_RX = PURGE_RXABORT | PURGE_RXCLEAR;
inline constexpr unsigned PURGE_TX = PURGE_TXABORT | PURGE_TXCLEAR;

// The line functions of Escape, numbered as the callers know them.
enum TVaEscapeFunction : int {
    SETXOFF = 1,
    SETXON = 2,
    SETRTS = 3,
    CLRRTS = 4,
    SETDTR = 5,
    CLRDTR = 6,
    RESETDEV = 7,
    SETBREAK = 8,
    CLRBREAK = 9
};

// Line error bits of the error word (ClearLineErrors, OnError).
inline constexpr std::uint32_t CE_RXOVER = 0x1;
inline constexpr std::uint32_t CE_OVERRUN = 0x2;
inline constexpr std::uint32_t CE_RXPARITY = 0x4;
inline constexpr std::uint32_t CE_FRAME = 0x8;
inline constexpr std::uint32_t CE_BREAK = 0x10;

enum TVaBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaCommOption { coErrorChar, coNullStrip, coParityCheck };
enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TVaThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

// Bits per second of a rate (0 for brUser).
int BaudrateValue(TVaBaudrate Rate);
std::uint32_t CommEventValue(TVaCommEvent Event);

// A set of enumeration members.
template <class E> class TVaSet {
public:
    TVaSet() = default;
    TVaSet(std::initializer_list<E> Members) {
        for (E m : Members)
            Include(m);
    }
    bool Contains(E m) const { return (FBits >> static_cast<unsigned>(m)) & 1u; }
    void Include(E m) { FBits |= 1u << static_cast<unsigned>(m); }
    void Exclude(E m) { FBits &= ~(1u << static_cast<unsigned>(m)); }
    bool Empty() const { return FBits == 0; }
    std::uint32_t Bits() const { return FBits; }
    bool operator==(const TVaSet&) const = default;

private:
    std::uint32_t FBits = 0;
};
using TVaCommOptions = TVaSet<TVaCommOption>;
using TVaCommEvents = TVaSet<TVaCommEvent>;

// The capability record of an open port, laid out like the one the port's callers were written for.
struct TVaCommProp {
    std::uint16_t wPacketLength = 0;
    std::uint16_t wPacketVersion = 0;
    std::uint32_t dwServiceMask = 0;
    std::uint32_t dwReserved1 = 0;
    std::uint32_t dwMaxTxQueue = 0;
    std::uint32_t dwMaxRxQueue = 0;
    std::uint32_t dwMaxBaud = 0;
    std::uint32_t dwProvSubType = 0;
    std::uint32_t dwProvCapabilities = 0;
    std::uint32_t dwSettableParams = 0;
    std::uint32_t dwSettableBaud = 0;
    std::uint16_t wSettableData = 0;
    std::uint16_t wSettableStopParity = 0;
    std::uint32_t dwCurrentTxQueue = 0;
    std::uint32_t dwCurrentRxQueue = 0;
    std::uint32_t dwProvSpec1 = 0;
    std::uint32_t dwProvSpec2 = 0;
    char16_t wcProvChar[1] = {0};
};

// A component that shows a port's state; the port calls UpdateDisplay on every event.
class TVaCommDisplay : public TVaComponent {
public:
    virtual void UpdateDisplay(TVaCustomComm& Comm) = 0;
};

using TVaNotifyEvent = std::function<void(TVaCustomComm* Sender)>;
using TVaCommErrorEvent = std::function<void(TVaCustomComm* Sender, int Errors)>;
using TVaCommRxCharEvent = std::function<void(TVaCustomComm* Sender, int Count)>;
using TVaCommRxBufEvent = std::function<void(TVaCustomComm* Sender, const std::uint8_t* Data, int Count)>;

// All calls belong to the main thread, except WriteBuf/WriteText/WriteChar, WriteBufUsed/WriteBufFree, Drain and
// the purges, which the transfer components also make from their own threads. Handlers run on the main thread;
// one may close the port, but none may destroy it (the call that runs the handler still uses the object
// afterwards). Close ends both threads before it returns (quickly: they are released from any hand-over they
// wait for), so a notification still queued for the main thread finds nothing to call.
class TVaCustomComm : public TVaComponent {
public:
    TVaCustomComm();
    ~TVaCustomComm() override;

    // Lifecycle. Open either returns with the port configured, its threads running and OnOpen called, or
    // raises EVaCommError with the port closed. Close is safe on a closed port; bytes written before it
    // still reach the line first, for as long as they need at the line rate plus kCloseSlackMs at most (a
    // line held by flow control, or a gone device, is not waited for).
    void Open();
    void Close();
    bool Active() const;
    // The open port's device is gone for good (a USB adapter pulled, the other end of a pty closed). From
    // then on the port reads nothing, drops what is written and raises nothing; OnLineLost has been (or is
    // about to be) called once. Only Close and a new Open make the port usable again. False while closed.
    bool LineLost() const;
    void Loaded() override;

    // Data.
    int WriteBuf(const void* Buffer, int Count);
    int ReadBuf(void* Buffer, int Count);
    bool WriteText(std::string_view Text);
    std::string ReadText();
    bool WriteChar(char Ch);
    bool ReadChar(char& Ch);
    // The reader has no use for fewer than Bytes received bytes (the rest of a block whose size it knows):
    // the notice of received bytes waits until that many are here, the line goes quiet or a short while has
    // passed. A long transfer then wakes its reader a few times a block instead of hundreds of times a
    // second. 0 ends the hint; it also ends with Close.
    void SetReadHint(int Bytes);

    // Queues.
    void PurgeRead();
    void PurgeWrite();
    void PurgeReadWrite();
    int ReadBufUsed();
    int ReadBufFree();
    int WriteBufUsed();
    int WriteBufFree();
    // Waits until the bytes written so far have left for the line: the write queue is empty and the driver
    // has sent what it holds. Returns false when the port is closed or the time ran out first (a line held
    // by flow control, a peer that takes nothing); the bound is the time the pending bytes need at the line
    // rate plus kDrainSlackMs. Raises EVaCommError when the driver fails.
    bool Drain();
    static constexpr int kDrainSlackMs = 2000;
    static constexpr int kCloseSlackMs = 250;

    // Status.
    bool ClearLineErrors();
    bool GetModemStatus(int Index);
    bool GetComStat(int Index);
    TVaCommProp GetProperties();
    std::string GetDeviceName() const;
    // The file Open opens (or opened) for the current DeviceName and PortNum.
    std::string DevicePath() const;

    // Line control.
    void SetDTR(bool On);
    void SetRTS(bool On);
    void SetBreak(bool On);
    void SetXon(bool On);
    void ResetDev();

    // Locks and clients.
    void WriteLock() { FWriteLock.Enter(); }
    void WriteUnlock() { FWriteLock.Leave(); }
    void GlobalLock() { FGlobalLock.Enter(); }
    void GlobalUnlock() { FGlobalLock.Leave(); }
    void EnableControls() { FControlsEnabled = true; }
    void DisableControls() { FControlsEnabled = false; }
    bool ControlsEnabled() const { return FControlsEnabled; }
    void InsertClient(TVaDispatcher* Dispatcher);
    void RemoveClient(TVaDispatcher* Dispatcher);
    int ClientCount() const { return static_cast<int>(FClients.size()); }
    void UpdateDisplay();

    // Properties. Setters marked "refused" raise sMsgPortOpen while open and keep the old value; the others
    // rebuild and write the line configuration when the value changed and the port is open.
    bool AutoOpen() const { return FAutoOpen; }
    void SetAutoOpen(bool Value) { FAutoOpen = Value; }
    TVaBaudrate Baudrate() const { return FBaudrate; }
    void SetBaudrate(TVaBaudrate Value);
    TVaParity Parity() const { return FParity; }
    void SetParity(TVaParity Value);
    TVaDatabits Databits() const { return FDatabits; }
    void SetDatabits(TVaDatabits Value);
    TVaStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TVaStopbits Value);
    TVaEventChars& EventChars() { return *FEventChars; }
    void SetEventChars(const TVaEventChars& Value) { FEventChars->Assign(Value); }
    TVaFlowControl& FlowControl() { return *FFlowControl; }
    void SetFlowControl(const TVaFlowControl& Value) { FFlowControl->Assign(Value); }
    TVaCommOptions Options() const { return FOptions; }
    void SetOptions(TVaCommOptions Value);
    int PortNum() const { return FPortNum; }
    void SetPortNum(int Value); // refused; 0 ... 2147483647
    const std::string& DeviceName() const { return FDeviceName; }
    void SetDeviceName(const std::string& Value); // refused
    TVaCommEvents MonitorEvents() const { return FMonitorEvents; }
    void SetMonitorEvents(TVaCommEvents Value); // refused
    TVaBuffers& Buffers() { return *FBuffers; }
    void SetBuffers(const TVaBuffers& Value); // refused
    TVaThreadPriority EventPriority() const { return FEventPriority; }
    void SetEventPriority(TVaThreadPriority Value);
    TVaThreadPriority WritePriority() const { return FWritePriority; }
    void SetWritePriority(TVaThreadPriority Value);
    bool DirectWrite() const { return FDirectWrite; }
    void SetDirectWrite(bool Value); // refused
    bool UpdateDCB() const { return FUpdateDCB; }
    void SetUpdateDCB(bool Value); // refused
    int UserBaudrate() const { return FUserBaudrate; }
    void SetUserBaudrate(int Value);
    TVaCommDisplay* Display() const { return FDisplay; }
    void SetDisplay(TVaCommDisplay* Value);

    // The event word the driver is asked for: MonitorEvents, without EV_TXEMPTY in queued mode.
    std::uint32_t EventMask() const;

    // Events, all run on the main thread.
    TVaNotifyEvent OnOpen, OnClose;
    TVaNotifyEvent OnCts, OnDsr, OnRlsd, OnRing, OnBreak;
    TVaCommErrorEvent OnError;
    TVaCommRxCharEvent OnRxChar;
    TVaCommRxBufEvent OnRxBuf;
    TVaNotifyEvent OnRxFlag, OnTxEmpty, OnPErr, OnRx80Full, OnEvent1, OnEvent2;
    // Once per open port when its device is gone (see LineLost); comes from the event thread, so it needs a
    // port that monitors some event.
    TVaNotifyEvent OnLineLost;

    void Notification(TVaComponent* Component, TOperation Operation) override;

    // Run on the main thread for the event and write threads.
    void DoEvent(std::uint32_t EvtMask);
    // DoTxEmpty (EV_TXEMPTY) and DoWriteError (EV_ERR) of the write thread.
    void DoLineEvent(std::uint32_t EvtMask);
    // The event thread's one notice that the device is gone.
    void DoLineLost();
    virtual void HandleDataEvent();
    virtual void HandleLineEvent(std::uint32_t EvtMask);

protected:
    virtual void CreateHandle();
    virtual void CreateThreads();
    virtual void WriteEvents(std::uint32_t EvtMask);
    virtual void WriteBuffer(const std::uint8_t* Data, int Count);

private:
    friend class TVaCommEventThread;
    friend class TVaCommWriteThread;
    struct TDevice;
    // The error word and the driver's status record of one status query.
    struct TComStat {
        std::uint32_t Errors = 0;
        std::uint32_t Flags = 0;
        std::uint32_t InQue = 0;
        std::uint32_t OutQue = 0;
    };

    // Only ClearLineErrors takes the error word: a byte count asked for in between must not swallow the
    // errors that the EV_ERR notice behind it is about to report.
    TComStat StatusQuery(bool TakeErrors = false);
    bool DrainWithin(int SlackMs);
    void CloseHandle();
    void ApplyLineConfiguration();
    void SettingsChanged(TVaPersistent* Sender);
    void BuffersChanged(TVaPersistent* Sender);
    void RequireClosed() const;
    void DestroyThreads();
    void Purge(unsigned Flags);
    void DriverPurge(unsigned Flags);
    int DirectWriteBuf(TDevice& Device, const void* Buffer, int Count);
    void Escape(TVaEscapeFunction Function);
    void ReportException();
    IVaMainThread& Host() const;
    [[noreturn]] void RaiseOsError(const char* Format) const;
    template <class T> void SetLineValue(T& Field, T Value);

    bool FAutoOpen = false;
    TVaBaudrate FBaudrate = br1200;
    TVaParity FParity = paNone;
    TVaDatabits FDatabits = db8;
    TVaStopbits FStopbits = sb1;
    std::unique_ptr<TVaEventChars> FEventChars;
    std::unique_ptr<TVaFlowControl> FFlowControl;
    std::unique_ptr<TVaBuffers> FBuffers;
    TVaCommOptions FOptions;
    int FPortNum = 0;
    std::string FDeviceName = R"(\\.\COM%d)";
    TVaCommEvents FMonitorEvents{ceError, ceRxChar, ceTxEmpty};
    TVaThreadPriority FEventPriority = tpNormal;
    TVaThreadPriority FWritePriority = tpHighest;
    bool FDirectWrite = false;
    bool FUpdateDCB = true;
    int FUserBaudrate = 0;
    TVaCommDisplay* FDisplay = nullptr;

    bool FControlsEnabled = true;
    std::vector<TVaDispatcher*> FClients;
    mutable TVaCriticalSection FWriteLock;
    TVaCriticalSection FGlobalLock;
    // The open device and what the threads share with the port; null while closed.
    std::shared_ptr<TDevice> FDevice;
    std::atomic<bool> FActive{false};
    std::uint32_t FEventMask = 0;
    IVaMainThread* FHost = nullptr;
    std::unique_ptr<TVaCommEventThread> FEventThread;
    std::shared_ptr<TVaCommWriteThread> FWriteThread;
};

// The port with its properties published; behaviour is all in TVaCustomComm.
class TVaComm : public TVaCustomComm {
public:
    using TVaCustomComm::TVaCustomComm;
};

} // namespace serial
