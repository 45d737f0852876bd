// The portable half of the port: properties, open/close sequence, reads, writes, queues and the dispatch of
// events on the main thread. The device itself is in comm_unix.cpp, the threads in comm_threads.cpp.
#include "serial/comm.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "serial/comm_device.h"
#include "serial/device_name.h"
#include "serial/dispatcher.h"
#include "serial/main_thread.h"

namespace serial {

int BaudrateValue(TVaBaudrate Rate) {
    static constexpr int rates[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                    14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return rates[Rate];
}

std::uint32_t CommEventValue(TVaCommEvent Event) {
    static constexpr std::uint32_t values[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                               EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                               EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    return values[Event];
}

TVaCustomComm::TVaCustomComm()
    : FEventChars(std::make_unique<TVaEventChars>()), FFlowControl(std::make_unique<TVaFlowControl>()),
      FBuffers(std::make_unique<TVaBuffers>()) {
    FEventChars->OnChange = [this](TVaPersistent* s) { SettingsChanged(s); };
    FFlowControl->OnChange = [this](TVaPersistent* s) { SettingsChanged(s); };
    FBuffers->OnChange = [this](TVaPersistent* s) { BuffersChanged(s); };
}

TVaCustomComm::~TVaCustomComm() {
    BeginDestroy();
    Close();
    while (!FClients.empty()) {
        FClients.back()->FComm = nullptr;
        FClients.pop_back();
    }
}

bool TVaCustomComm::Active() const { return FActive.load(); }

bool TVaCustomComm::LineLost() const {
    std::lock_guard<TVaCriticalSection> lock(FWriteLock);
    return FDevice && FDevice->Gone.load();
}

IVaMainThread& TVaCustomComm::Host() const { return FHost != nullptr ? *FHost : MainThreadHost(); }

void TVaCustomComm::ReportException() { Host().HandleException(std::current_exception()); }

void TVaCustomComm::Loaded() {
    TVaComponent::Loaded();
    if (!Designing() && FAutoOpen)
        Open();
}

void TVaCustomComm::Open() {
    if (Active())
        throw EVaCommError(sMsgPortOpen);
    FHost = &MainThreadHost();
    CreateHandle();
    try {
        ApplyLineConfiguration();
        // Queue sizes: the driver has no per-port size call; Buffers.ReadSize sizes the received-byte store
        // and Buffers.WriteSize the write queue, so "Error initializing buffers" cannot arise here.
        // Time-outs: the device is non-blocking and reads take only what is there, which is what the
        // time-outs asked of the driver; nothing to set. The event mask only tells the event thread what to
        // look for, so nothing can refuse it: " Error setting EventMask" does not arise either.
        FEventMask = EventMask();
        CreateThreads();
    } catch (...) {
        CloseHandle();
        throw;
    }
    if (OnOpen) {
        try {
            OnOpen(this);
        } catch (...) {
            ReportException();
        }
    }
}

void TVaCustomComm::Close() {
    if (!Active())
        return;
    // The last bytes of a conversation (the logout's final line end, say) are as much part of it as the
    // first: they go out before the threads end, which would drop what is still queued.
    if (!LineLost()) {
        try {
            (void)DrainWithin(kCloseSlackMs);
        } catch (const EVaCommError&) {
            // A failing driver holds nothing that could still be sent; closing goes on.
        }
    }
    {
        std::lock_guard<TVaCriticalSection> global(FGlobalLock);
        DestroyThreads();
    }
    CloseHandle();
    if (OnClose && !Destroying()) {
        try {
            OnClose(this);
        } catch (...) {
            ReportException();
        }
    }
}

void TVaCustomComm::CreateThreads() {
    IVaMainThread& host = Host();
    if (FEventMask != 0) {
        FEventThread = std::make_unique<TVaCommEventThread>(*this, FDevice, FEventMask, host);
        FEventThread->Start(FEventPriority);
    }
    if (!FDirectWrite) {
        auto writer = std::make_shared<TVaCommWriteThread>(*this, FDevice, FBuffers->WriteSize(), host);
        writer->Start(FWritePriority);
        std::lock_guard<TVaCriticalSection> lock(FWriteLock);
        FWriteThread = std::move(writer);
    }
}

void TVaCustomComm::DestroyThreads() {
    // Unlike the threads this design started from, these are waited for: stopping releases any hand-over they
    // wait for and wakes their poll, so they end at once, and after Close nothing of the port runs any more.
    std::unique_ptr<TVaCommEventThread> events = std::move(FEventThread);
    std::shared_ptr<TVaCommWriteThread> writer;
    {
        std::lock_guard<TVaCriticalSection> lock(FWriteLock);
        writer = std::move(FWriteThread);
    }
    if (events)
        events->StopThread();
    if (writer)
        writer->StopThread();
    if (events)
        events->Join();
    if (writer)
        writer->Join();
}

std::uint32_t TVaCustomComm::EventMask() const {
    std::uint32_t mask = 0;
    for (int e = ceBreak; e <= ceEvent2; ++e)
        if (FMonitorEvents.Contains(static_cast<TVaCommEvent>(e)))
            mask |= CommEventValue(static_cast<TVaCommEvent>(e));
    if (!FDirectWrite)
        mask &= ~EV_TXEMPTY;
    return mask;
}

// ---------------------------------------------------------------------------------------------------------------
// Data

int TVaCustomComm::WriteBuf(const void* Buffer, int Count) {
    if (!Active() || Count <= 0)
        return 0;
    if (FDirectWrite) {
        std::shared_ptr<TDevice> dev;
        {
            std::lock_guard<TVaCriticalSection> lock(FWriteLock);
            dev = FDevice;
        }
        return dev ? DirectWriteBuf(*dev, Buffer, Count) : 0;
    }
    std::shared_ptr<TVaCommWriteThread> writer;
    {
        std::lock_guard<TVaCriticalSection> lock(FWriteLock);
        writer = FWriteThread;
    }
    if (!writer)
        return 0;
    switch (writer->WriteData(Buffer, Count, FBuffers->WriteTimeout())) {
    case TVaCommWriteThread::wdQueued:
        return Count;
    case TVaCommWriteThread::wdNoRoom:
        throw EVaCommError(sMsgOutputFull);
    case TVaCommWriteThread::wdStopped:
        break;
    }
    return 0; // closed while waiting for room
}

bool TVaCustomComm::WriteText(std::string_view Text) {
    return WriteBuf(Text.data(), static_cast<int>(Text.size())) == static_cast<int>(Text.size());
}

bool TVaCustomComm::WriteChar(char Ch) { return WriteBuf(&Ch, 1) == 1; }

int TVaCustomComm::ReadBuf(void* Buffer, int Count) {
    if (!Active() || Count <= 0)
        return 0;
    std::lock_guard<TVaCriticalSection> global(FGlobalLock);
    TDevice& dev = *FDevice;
    auto* out = static_cast<std::uint8_t*>(Buffer);
    std::uint32_t events = 0;
    bool wasFull = false;
    int got = 0;
    int error = 0;
    {
        std::lock_guard<std::mutex> lock(dev.RxMutex);
        wasFull = dev.RxBuf.Free() == 0;
        got = dev.RxBuf.Read(out, Count);
        if (got < Count)
            got += dev.ReadDriver(out + got, Count - got, events, error);
    }
    // Bytes already taken are handed back rather than lost to the failure; the next read reports it.
    if (error != 0 && got == 0) {
        errno = error;
        RaiseOsError(sMsgReadError);
    }
    // Bytes read here straight from the driver were never seen by the event thread; only an event character
    // among them still needs its notice. A full store that now has room must be watched again.
    events &= EV_RXFLAG;
    if (events != 0 || wasFull)
        dev.Kick(events);
    return got;
}

std::string TVaCustomComm::ReadText() {
    const int n = ReadBufUsed();
    if (n <= 0)
        return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    text.resize(static_cast<std::size_t>(ReadBuf(text.data(), n)));
    return text;
}

bool TVaCustomComm::ReadChar(char& Ch) { return ReadBuf(&Ch, 1) == 1; }

void TVaCustomComm::SetReadHint(int Bytes) {
    if (!Active())
        return;
    const int old = FDevice->ReadHint.exchange(std::max(0, Bytes));
    // A lowered hint may already be met by what the event thread holds back.
    if (Bytes < old)
        FDevice->Kick();
}

// ---------------------------------------------------------------------------------------------------------------
// Queues

void TVaCustomComm::PurgeRead() { Purge(PURGE_RX); }
void TVaCustomComm::PurgeWrite() { Purge(PURGE_TX); }
void TVaCustomComm::PurgeReadWrite() { Purge(PURGE_TX | PURGE_RX); }

void TVaCustomComm::Purge(unsigned Flags) {
    if (!Active())
        return;
    std::lock_guard<TVaCriticalSection> global(FGlobalLock);
    if (!Active())
        return;
    if (Flags != PURGE_RX) {
        std::shared_ptr<TVaCommWriteThread> writer;
        {
            std::lock_guard<TVaCriticalSection> lock(FWriteLock);
            writer = FWriteThread;
        }
        if (writer)
            writer->PurgeWrite();
    }
    DriverPurge(Flags);
}

int TVaCustomComm::ReadBufUsed() {
    if (!Active())
        return 0;
    return static_cast<int>(StatusQuery().InQue);
}

int TVaCustomComm::ReadBufFree() {
    if (!Active())
        return 0;
    return FBuffers->ReadSize() - ReadBufUsed();
}

int TVaCustomComm::WriteBufUsed() {
    if (!Active())
        return 0;
    if (FDirectWrite)
        return static_cast<int>(StatusQuery().OutQue);
    std::lock_guard<TVaCriticalSection> lock(FWriteLock);
    return FWriteThread ? FWriteThread->Used() : 0;
}

int TVaCustomComm::WriteBufFree() {
    if (!Active())
        return 0;
    return FBuffers->WriteSize() - WriteBufUsed();
}

// ---------------------------------------------------------------------------------------------------------------
// Status and line control

bool TVaCustomComm::ClearLineErrors() {
    const std::uint32_t errors = StatusQuery(true).Errors;
    if (errors == 0)
        return false;
    if (OnError) {
        try {
            OnError(this, static_cast<int>(errors));
        } catch (...) {
            ReportException();
        }
    }
    return true;
}

bool TVaCustomComm::GetComStat(int Index) {
    const std::uint32_t flags = StatusQuery().Flags;
    if (Index < 1 || Index > 8)
        return false;
    return (flags >> (Index - 1)) & 1u;
}

std::string TVaCustomComm::GetDeviceName() const {
    std::string name = FDeviceName;
    const std::string num = std::to_string(FPortNum);
    for (std::size_t pos = name.find("%d"); pos != std::string::npos; pos = name.find("%d", pos + num.size()))
        name.replace(pos, 2, num);
    return name;
}

std::string TVaCustomComm::DevicePath() const { return ResolveDevicePath(GetDeviceName()); }

void TVaCustomComm::SetDTR(bool On) {
    if (FFlowControl->ControlDtr() == dtrHandshake)
        throw EVaCommError(sMsgDtrHandshake);
    if (Active())
        Escape(On ? SETDTR : CLRDTR);
}

void TVaCustomComm::SetRTS(bool On) {
    if (FFlowControl->ControlRts() == rtsHandshake || FFlowControl->ControlRts() == rtsToggle)
        throw EVaCommError(sMsgRtsHandshake);
    if (Active())
        Escape(On ? SETRTS : CLRRTS);
}

void TVaCustomComm::SetBreak(bool On) {
    if (Active())
        Escape(On ? SETBREAK : CLRBREAK);
}

void TVaCustomComm::SetXon(bool On) {
    if (Active())
        Escape(On ? SETXON : SETXOFF);
}

void TVaCustomComm::ResetDev() {
    if (Active())
        Escape(RESETDEV);
}

// ---------------------------------------------------------------------------------------------------------------
// Clients and events

void TVaCustomComm::InsertClient(TVaDispatcher* Dispatcher) {
    if (Dispatcher == nullptr)
        return;
    Dispatcher->FComm = this;
    FClients.push_back(Dispatcher);
}

void TVaCustomComm::RemoveClient(TVaDispatcher* Dispatcher) {
    auto it = std::find(FClients.begin(), FClients.end(), Dispatcher);
    if (it == FClients.end())
        return;
    Dispatcher->FComm = nullptr;
    FClients.erase(it);
}

void TVaCustomComm::UpdateDisplay() {
    if (FDisplay != nullptr)
        FDisplay->UpdateDisplay(*this);
}

void TVaCustomComm::SetDisplay(TVaCommDisplay* Value) {
    if (FDisplay != nullptr)
        RemoveFreeNotification(FDisplay);
    FDisplay = Value;
    if (FDisplay != nullptr)
        FreeNotification(FDisplay);
}

void TVaCustomComm::Notification(TVaComponent* Component, TOperation Operation) {
    TVaComponent::Notification(Component, Operation);
    if (Operation == opRemove && FDisplay != nullptr && Component == FDisplay)
        FDisplay = nullptr;
}

void TVaCustomComm::DoEvent(std::uint32_t EvtMask) {
    try {
        UpdateDisplay();
        if (EvtMask & EV_RXCHAR) {
            HandleDataEvent();
            EvtMask &= ~EV_RXCHAR;
        }
        if (EvtMask != 0)
            HandleLineEvent(EvtMask);
    } catch (...) {
        ReportException();
    }
}

void TVaCustomComm::DoLineEvent(std::uint32_t EvtMask) {
    // An exception from OnTxEmpty or a client goes where those of DoEvent go; the write thread never sees it
    // and carries on with the queue.
    try {
        HandleLineEvent(EvtMask);
    } catch (...) {
        ReportException();
    }
}

void TVaCustomComm::DoLineLost() {
    try {
        UpdateDisplay();
        if (OnLineLost && Active())
            OnLineLost(this);
    } catch (...) {
        ReportException();
    }
}

void TVaCustomComm::HandleDataEvent() {
    const int n = ReadBufUsed();
    if (n <= 0)
        return;
    if (!FClients.empty()) {
        std::vector<std::uint8_t> data(static_cast<std::size_t>(n));
        const int got = ReadBuf(data.data(), n);
        if (got > 0)
            WriteBuffer(data.data(), got);
    } else if (OnRxChar) {
        OnRxChar(this, n);
    }
}

void TVaCustomComm::HandleLineEvent(std::uint32_t EvtMask) {
    if (EvtMask & EV_ERR)
        ClearLineErrors();
    if (!FClients.empty())
        WriteEvents(EvtMask);
    const std::pair<std::uint32_t, TVaNotifyEvent*> handlers[] = {
        {EV_RXFLAG, &OnRxFlag},     {EV_CTS, &OnCts},         {EV_DSR, &OnDsr},      {EV_RING, &OnRing},
        {EV_RLSD, &OnRlsd},         {EV_TXEMPTY, &OnTxEmpty}, {EV_BREAK, &OnBreak},  {EV_PERR, &OnPErr},
        {EV_RX80FULL, &OnRx80Full}, {EV_EVENT1, &OnEvent1},   {EV_EVENT2, &OnEvent2}};
    for (const auto& [bit, handler] : handlers)
        if ((EvtMask & bit) && *handler)
            (*handler)(this);
}

void TVaCustomComm::WriteEvents(std::uint32_t EvtMask) {
    if (!FControlsEnabled)
        return;
    // A copy: a client may detach itself (or another) from its callback.
    const std::vector<TVaDispatcher*> clients = FClients;
    for (TVaDispatcher* d : clients)
        if (std::find(FClients.begin(), FClients.end(), d) != FClients.end())
            d->LineEvent(EvtMask);
}

void TVaCustomComm::WriteBuffer(const std::uint8_t* Data, int Count) {
    if (FControlsEnabled) {
        const std::vector<TVaDispatcher*> clients = FClients;
        for (TVaDispatcher* d : clients)
            if (std::find(FClients.begin(), FClients.end(), d) != FClients.end())
                d->DataEvent(Data, Count);
    }
    if (OnRxBuf)
        OnRxBuf(this, Data, Count);
}

// ---------------------------------------------------------------------------------------------------------------
// Properties

void TVaCustomComm::RequireClosed() const {
    if (Active())
        throw EVaCommError(sMsgPortOpen);
}

template <class T> void TVaCustomComm::SetLineValue(T& Field, T Value) {
    if (Field == Value)
        return;
    Field = Value;
    if (Active())
        ApplyLineConfiguration();
}

void TVaCustomComm::SetBaudrate(TVaBaudrate Value) {
    if (Value != brUser)
        FUserBaudrate = 0;
    SetLineValue(FBaudrate, Value);
}

void TVaCustomComm::SetUserBaudrate(int Value) {
    if (Value == FUserBaudrate)
        return;
    FUserBaudrate = Value;
    FBaudrate = brUser;
    if (Active())
        ApplyLineConfiguration();
}

void TVaCustomComm::SetParity(TVaParity Value) { SetLineValue(FParity, Value); }
void TVaCustomComm::SetDatabits(TVaDatabits Value) { SetLineValue(FDatabits, Value); }
void TVaCustomComm::SetStopbits(TVaStopbits Value) { SetLineValue(FStopbits, Value); }
void TVaCustomComm::SetOptions(TVaCommOptions Value) { SetLineValue(FOptions, Value); }

void TVaCustomComm::SetPortNum(int Value) {
    RequireClosed();
    if (Value < 0)
        throw std::out_of_range("PortNum must be between 0 and 2147483647");
    FPortNum = Value;
}

void TVaCustomComm::SetDeviceName(const std::string& Value) {
    RequireClosed();
    FDeviceName = Value;
}

void TVaCustomComm::SetMonitorEvents(TVaCommEvents Value) {
    RequireClosed();
    FMonitorEvents = Value;
}

void TVaCustomComm::SetBuffers(const TVaBuffers& Value) {
    RequireClosed();
    FBuffers->Assign(Value);
}

void TVaCustomComm::SetDirectWrite(bool Value) {
    RequireClosed();
    FDirectWrite = Value;
}

void TVaCustomComm::SetUpdateDCB(bool Value) {
    RequireClosed();
    FUpdateDCB = Value;
}

void TVaCustomComm::SetEventPriority(TVaThreadPriority Value) {
    FEventPriority = Value;
    if (FEventThread)
        FEventThread->SetPriority(Value);
}

void TVaCustomComm::SetWritePriority(TVaThreadPriority Value) {
    FWritePriority = Value;
    std::lock_guard<TVaCriticalSection> lock(FWriteLock);
    if (FWriteThread)
        FWriteThread->SetPriority(Value);
}

void TVaCustomComm::SettingsChanged(TVaPersistent*) {
    if (Active())
        ApplyLineConfiguration();
}

void TVaCustomComm::BuffersChanged(TVaPersistent*) {
    // The new value stays stored; it takes effect at the next Open.
    if (Active())
        throw EVaCommError(sMsgPortOpen);
}

} // namespace serial
