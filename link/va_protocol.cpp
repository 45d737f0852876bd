#include "link/va_protocol.h"

#include <algorithm>
#include <chrono>

#include "serial/comm.h"

namespace serial {

// ---- TVaProtocol ----

TVaProtocol::TVaProtocol() : FAlive(std::make_shared<bool>(true)) {}

TVaProtocol::~TVaProtocol() {
    BeginDestroy();
    FAlive.reset();
    if (FThread) {
        FThread->Terminate();
        FThread->Join();
        FThread.reset();
    }
}

void TVaProtocol::Execute() {
    if (FThread)
        throw EVaProtocolError(sMsgTransferActive);
    FExitCode = 0;
    Dispatcher().PurgeReadWrite();
    SetActive(true);
    FThread = CreateThread();
    if (OnTransferStart) {
        try {
            OnTransferStart(this);
        } catch (...) {
            ReportException();
        }
    }
    FThread->Start();
}

void TVaProtocol::Cancel() {
    if (FThread)
        FThread->Cancel();
}

int TVaProtocol::ErrorCode() const { return FThread ? FThread->ErrorCode() : 0; }
int TVaProtocol::ErrorCount() const { return FThread ? FThread->ErrorCount() : 0; }

void TVaProtocol::DataChanged(PVaData Data, int Count) {
    if (FThread && Count > 0)
        FThread->PutBuf(Data, Count);
}

void TVaProtocol::TransferFinished(TVaProtocolThread&) {}

void TVaProtocol::ReportException() { MainThreadHost().HandleException(std::current_exception()); }

void TVaProtocol::ThreadDone() {
    if (!FThread)
        return;
    FThread->Join();
    TransferFinished(*FThread);
    FThread.reset();
    SetActive(false);
    if (OnTransferEnd) {
        try {
            OnTransferEnd(this, FExitCode.load());
        } catch (...) {
            ReportException();
        }
    }
}

// ---- TVaProtocolThread ----

TVaProtocolThread::TVaProtocolThread(TVaProtocol& Owner)
    : FOwner(Owner), FMode(Owner.Mode()), FTimeout(static_cast<std::uint32_t>(std::max(1, Owner.Timeout()))),
      FMaxErrors(std::max(1, Owner.MaxErrors())), FBuffer(static_cast<std::size_t>(std::max(1, Owner.BufferSize()))),
      FHost(MainThreadHost()), FSync(FHost), FOwnerAlive(Owner.FAlive) {}

TVaProtocolThread::~TVaProtocolThread() {
    Terminate();
    Join();
    if (FStream)
        CloseStream(false);
}

void TVaProtocolThread::Start() {
    FThread = std::thread([this] { Execute(); });
}

void TVaProtocolThread::Join() {
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

void TVaProtocolThread::Execute() {
    try {
        Initialize();
        if (FMode == tmDownload)
            Download();
        else
            Upload();
        SetExitCode(0);
    } catch (const EVaTransferExit&) {
    } catch (...) {
        // A port failure (the write queue stayed full, say): the transfer cannot go on.
        FOwner.FExitCode = pcProtocol;
    }
    if (FStream)
        CloseStream(false);
    DrainLine();
    // The end is reported on the main thread, which joins this thread there. A component destroyed meanwhile
    // has joined it already and the notice does nothing.
    std::weak_ptr<bool> alive = FOwnerAlive;
    TVaProtocol* owner = &FOwner;
    if (!Terminated())
        FHost.Post([alive, owner] {
            if (alive.lock())
                owner->ThreadDone();
        });
}

void TVaProtocolThread::DrainLine() {
    TVaCustomComm* port = FOwner.Comm();
    if (!port || Terminated())
        return;
    // The end is reported only once the last bytes (the last ACK, say) are on the line: the handler of the
    // end may close the port, and Close drops what is still queued.
    try {
        (void)port->Drain();
    } catch (const EVaCommError&) {
        // A port that fails now holds nothing that could still be saved; the transfer's result stands.
    }
}

void TVaProtocolThread::Initialize() {
    // The buffer is not cleared here: each transfer has a new thread object, and bytes may already have come
    // between Execute and the first instruction of this thread (a receiver's start character, say).
    FErrorCount = 0;
    FErrorCode = 0;
    FCancelled = false;
}

void TVaProtocolThread::PutBuf(PVaData Data, int Count) {
    if (FOverflow.load() || Count <= 0)
        return;
    {
        std::lock_guard<std::mutex> lock(FLock);
        const auto n = static_cast<std::size_t>(Count);
        if (FCount + n > FBuffer.size()) {
            FOverflow = true;
        } else {
            for (std::size_t i = 0; i < n; ++i)
                FBuffer[(FHead + FCount + i) % FBuffer.size()] = Data[i];
            FCount += n;
        }
    }
    FSignal.notify_one();
}

void TVaProtocolThread::Cancel() {
    FCancelled = true;
    FSignal.notify_all();
}

void TVaProtocolThread::Terminate() {
    FTerminated = true;
    FCancelled = true;
    FSync.Release();
    FSignal.notify_all();
}

void TVaProtocolThread::CheckCancelled() {
    if (FCancelled.load()) {
        RemoteCan();
        SetExitCode(pcCancelled);
    }
}

bool TVaProtocolThread::WaitChar(std::uint32_t Milliseconds) {
    std::unique_lock<std::mutex> lock(FLock);
    // An overflow or a cancel also ends the wait: the next read reports it.
    return FSignal.wait_for(lock, std::chrono::milliseconds(Milliseconds),
                            [this] { return FCount > 0 || FCancelled.load() || FOverflow.load(); });
}

int TVaProtocolThread::ReadCharFor(std::uint32_t Milliseconds) {
    std::unique_lock<std::mutex> lock(FLock);
    FSignal.wait_for(lock, std::chrono::milliseconds(Milliseconds),
                     [this] { return FCount > 0 || FCancelled.load() || FOverflow.load(); });
    if (FOverflow.load()) {
        lock.unlock();
        RemoteCan();
        SetExitCode(pcOverflow);
    }
    // A cancel is told apart from a received byte: NUL is an ordinary byte of a binary file.
    if (FCancelled.load()) {
        lock.unlock();
        CheckCancelled();
    }
    if (FCount == 0)
        return -1;
    const std::uint8_t b = FBuffer[FHead];
    FHead = (FHead + 1) % FBuffer.size();
    --FCount;
    return b;
}

int TVaProtocolThread::ReadChar() {
    for (;;) {
        const int c = ReadCharFor(FTimeout);
        if (c >= 0)
            return c;
        ErrorEvent(pcTimeout, true);
    }
}

void TVaProtocolThread::UnreadChar(std::uint8_t Byte) {
    std::lock_guard<std::mutex> lock(FLock);
    if (FCount == FBuffer.size())
        return;
    FHead = (FHead + FBuffer.size() - 1) % FBuffer.size();
    FBuffer[FHead] = Byte;
    ++FCount;
}

int TVaProtocolThread::PeekChar() {
    std::lock_guard<std::mutex> lock(FLock);
    return FCount > 0 ? FBuffer[FHead] : -1;
}

bool TVaProtocolThread::CharReceived() {
    std::lock_guard<std::mutex> lock(FLock);
    return FCount > 0;
}

void TVaProtocolThread::DiscardInput() {
    std::lock_guard<std::mutex> lock(FLock);
    FHead = FCount = 0;
}

void TVaProtocolThread::WriteBuf(const void* Data, int Count) {
    if (!Terminated())
        FOwner.Dispatcher().WriteBuf(Data, Count);
}

void TVaProtocolThread::WriteChar(std::uint8_t Ch) { WriteBuf(&Ch, 1); }

void TVaProtocolThread::RemoteCan() {
    const std::uint8_t cancel[2] = {CAN, CAN};
    WriteBuf(cancel, 2);
}

void TVaProtocolThread::OpenStream(const std::string& FileName) {
    // Read only: sending needs no write access, and a read-only file must still be sendable.
    FStream = std::fopen(FileName.c_str(), "rb");
    if (!FStream) {
        RemoteCan();
        SetExitCode(pcOpenFile);
    }
    FStreamName = FileName;
    FStreamCreated = false;
}

void TVaProtocolThread::CreateStream(const std::string& FileName) {
    FStream = std::fopen(FileName.c_str(), "wb");
    if (!FStream) {
        RemoteCan();
        SetExitCode(pcCreateFile);
    }
    FStreamName = FileName;
    FStreamCreated = true;
}

bool TVaProtocolThread::CloseStream(bool Complete) {
    if (!FStream)
        return true;
    const bool ok = std::fclose(FStream) == 0;
    FStream = nullptr;
    // A file that did not arrive whole must not lie in the folder looking like a good one.
    if (FStreamCreated && (!Complete || !ok))
        std::remove(FStreamName.c_str());
    return ok;
}

bool TVaProtocolThread::EndOfStream() { return !FStream || std::feof(FStream); }

void TVaProtocolThread::SetExitCode(int Code) {
    FOwner.FExitCode = Code;
    throw EVaTransferExit{};
}

void TVaProtocolThread::ErrorEvent(int Code, bool CancelRemote) {
    const int count = ++FErrorCount;
    FErrorCode = Code;
    if (count >= FMaxErrors) {
        if (CancelRemote)
            RemoteCan();
        SetExitCode(pcMaxErrors);
    }
    if (FOwner.OnError) {
        TVaProtocol* owner = &FOwner;
        Synchronize([owner, Code, count] {
            if (owner->OnError)
                owner->OnError(owner, Code, count);
        });
    }
}

void TVaProtocolThread::Synchronize(std::function<void()> Call) {
    if (!Terminated())
        FSync.Run(std::move(Call));
}

} // namespace serial
