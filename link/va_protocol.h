// Base of the file-transfer components: a port client that runs one transfer at a time on a thread of its
// own, hands the received bytes to that thread and reports its events on the main thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "link/control_bytes.h"
#include "serial/dispatcher.h"
#include "serial/main_thread.h"

namespace serial {

class EVaProtocolError : public std::runtime_error {
public:
    explicit EVaProtocolError(const std::string& Message) : std::runtime_error(Message) {}
};

inline constexpr const char* sMsgTransferActive = "Transfer already in progress...";

enum TVaTransferMode { tmUpload, tmDownload };

// Exit codes (end of a transfer) and error codes (error events); 0 is success.
inline constexpr int pcTimeout = -1;
inline constexpr int pcCancelled = -3;
inline constexpr int pcRemoteCancel = -4;
inline constexpr int pcProtocol = -5;
inline constexpr int pcReadFile = -7;
inline constexpr int pcWriteFile = -8;
inline constexpr int pcMaxErrors = -9;
inline constexpr int pcNoSender = -10;
inline constexpr int pcCreateFile = -11;
inline constexpr int pcOpenFile = -12;
inline constexpr int pcOverflow = -14;
inline constexpr int pcBadPacket = -15;
inline constexpr int pcUnexpected = -16;

// Control characters of the XMODEM family.
using namespace control_bytes;

class TVaProtocol;
class TVaProtocolThread;

// The silent exception that ends every transfer; the exit code is already stored in the component.
struct EVaTransferExit {};

using TVaTransferStartEvent = std::function<void(TVaProtocol* Sender)>;
using TVaTransferEndEvent = std::function<void(TVaProtocol* Sender, int ExitCode)>;
using TVaProtocolErrorEvent = std::function<void(TVaProtocol* Sender, int ErrorCode, int ErrorCount)>;

// Every call belongs to the main thread. Properties are taken by the transfer thread when Execute starts it;
// changing them during a transfer affects the next one.
class TVaProtocol : public TVaCommComponent {
public:
    TVaProtocol();
    ~TVaProtocol() override;

    // Starts a transfer in the current Mode; raises EVaProtocolError(sMsgTransferActive) while one runs.
    void Execute();
    // Ends a running transfer with -3 (the other side is sent CAN CAN).
    void Cancel();
    bool IsActive() const { return FThread != nullptr; }

    TVaTransferMode Mode() const { return FMode; }
    void SetMode(TVaTransferMode Value) { FMode = Value; }
    // Milliseconds a read waits for a character.
    int Timeout() const { return FTimeout; }
    void SetTimeout(int Value) { FTimeout = Value; }
    int MaxErrors() const { return FMaxErrors; }
    void SetMaxErrors(int Value) { FMaxErrors = Value; }
    // Bytes the receive buffer holds before it overflows.
    int BufferSize() const { return FBufferSize; }
    void SetBufferSize(int Value) { FBufferSize = Value; }

    // Of the running transfer; 0 while idle.
    int ErrorCode() const;
    int ErrorCount() const;
    // Of the last transfer.
    int ExitCode() const { return FExitCode.load(); }

    TVaTransferStartEvent OnTransferStart;
    TVaTransferEndEvent OnTransferEnd;
    TVaProtocolErrorEvent OnError;

    void DataChanged(PVaData Data, int Count) override;

protected:
    virtual std::unique_ptr<TVaProtocolThread> CreateThread() = 0;
    // Main thread, after the thread ended and before OnTransferEnd: takes what the transfer produced.
    virtual void TransferFinished(TVaProtocolThread& Thread);
    void ReportException();

private:
    friend class TVaProtocolThread;
    void ThreadDone();

    TVaTransferMode FMode = tmUpload;
    int FTimeout = 60000;
    int FMaxErrors = 10;
    int FBufferSize = 4096;
    std::atomic<int> FExitCode{0};
    std::unique_ptr<TVaProtocolThread> FThread;
    // Cleared when the component goes, so that an end notice still queued for the main thread does nothing.
    std::shared_ptr<bool> FAlive;
};

// One transfer. Every end, successful or not, goes through SetExitCode, which leaves the transfer by a silent
// exception.
class TVaProtocolThread {
public:
    explicit TVaProtocolThread(TVaProtocol& Owner);
    virtual ~TVaProtocolThread();
    TVaProtocolThread(const TVaProtocolThread&) = delete;
    TVaProtocolThread& operator=(const TVaProtocolThread&) = delete;

    void Start();
    void Join();
    // From the main thread: received bytes. Ignored after an overflow.
    void PutBuf(PVaData Data, int Count);
    // Makes a waiting read give up at once: Cancel ends the transfer with -3 after CAN CAN; Terminate (the
    // component goes away) also stops writing and releases a wait for the main thread.
    void Cancel();
    void Terminate();

    int ErrorCode() const { return FErrorCode.load(); }
    int ErrorCount() const { return FErrorCount.load(); }

protected:
    virtual void Upload() = 0;
    virtual void Download() = 0;
    // Writes CAN CAN.
    virtual void RemoteCan();

    // The next received byte; waits Timeout per try, each time-out being error event -1.
    int ReadChar();
    // The next received byte, or -1 when none came within Milliseconds (no error event).
    int ReadCharFor(std::uint32_t Milliseconds);
    // Waits at most Milliseconds for a byte without taking it; whether one is buffered (or the next read has
    // an overflow or a cancel to report).
    bool WaitChar(std::uint32_t Milliseconds);
    // Puts a byte taken by mistake back in front of the buffer.
    void UnreadChar(std::uint8_t Byte);
    int PeekChar();
    bool CharReceived();
    void DiscardInput();
    void WriteBuf(const void* Data, int Count);
    void WriteChar(std::uint8_t Ch);
    void Initialize();
    // Open the local file for reading (failure: CAN CAN, exit -12) or create it (failure: CAN CAN, exit -11).
    void OpenStream(const std::string& FileName);
    void CreateStream(const std::string& FileName);
    // Closes the file; a file being received that did not arrive whole is removed. False when the close
    // failed.
    bool CloseStream(bool Complete);
    bool EndOfStream();
    [[noreturn]] void SetExitCode(int Code);
    void ErrorEvent(int Code, bool CancelRemote);
    // Cancelled locally: CAN CAN and exit -3. Called wherever a cancel must be honoured.
    void CheckCancelled();
    // Runs Call on the main thread and waits for it (handler exceptions go to the application's handler).
    void Synchronize(std::function<void()> Call);
    bool Terminated() const { return FTerminated.load(); }

    TVaProtocol& FOwner;
    const TVaTransferMode FMode;
    const std::uint32_t FTimeout;
    const int FMaxErrors;
    std::FILE* FStream = nullptr;
    std::string FStreamName;
    bool FStreamCreated = false;

private:
    void Execute();
    // Lets the port's write queue reach the line before the end is reported.
    void DrainLine();

    std::vector<std::uint8_t> FBuffer; // ring of BufferSize bytes, under FLock
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    std::mutex FLock;
    std::condition_variable FSignal;
    std::atomic<bool> FCancelled{false};
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FOverflow{false};
    std::atomic<int> FErrorCount{0};
    std::atomic<int> FErrorCode{0};
    IVaMainThread& FHost;
    TVaSynchronizer FSync;
    std::weak_ptr<bool> FOwnerAlive;
    std::thread FThread;
};

} // namespace serial
