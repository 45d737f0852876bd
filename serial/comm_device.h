// Inside of a port: the open device shared by the port and its two threads, and the threads themselves.
// Not part of the public interface.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "serial/comm.h"
#include "serial/comm_buffer.h"
#include "serial/main_thread.h"

namespace serial {

// Received bytes are taken from the driver by the event thread into RxBuf, so that poll (level-triggered)
// sees only bytes that arrived since; reads serve RxBuf first and then the driver.
struct TVaCustomComm::TDevice {
    TDevice(int DeviceFd, int RxCapacity);
    ~TDevice();
    TDevice(const TDevice&) = delete;
    TDevice& operator=(const TDevice&) = delete;

    // Under RxMutex: moves what the driver holds into RxBuf while there is room; returns the EV_ bits of what
    // came (EV_RXCHAR, EV_RXFLAG, EV_RX80FULL). HangupSeen: poll reported POLLHUP or POLLERR, so a read of
    // nothing means the device is gone rather than that nothing waits.
    std::uint32_t PullInput(bool HangupSeen);
    // Under RxMutex: reads up to Count bytes straight from the driver, as a pull would see them; Error is the
    // errno of a failed read, or 0.
    int ReadDriver(std::uint8_t* Data, int Count, std::uint32_t& Events, int& Error);
    // The device is gone for good (the adapter was pulled, the other end of a pty closed): a hung-up tty
    // answers every read with nothing, every write and status call with EIO, and every poll at once. Marks it
    // and wakes the event thread, which tells the main thread once and then leaves the device alone.
    void MarkGone();
    // Whether an errno of a read, write or status call means the device is gone.
    static bool GoneError(int Code);
    // Under RxMutex: compares the driver's line-error counters with the last look; adds CE_ bits to ErrorWord
    // and returns EV_ERR / EV_BREAK for what changed.
    std::uint32_t UpdateCounters();
    // Wakes the event thread; Events are added to what it hands over next.
    void Kick(std::uint32_t Events = 0);

    int Fd;
    int WakeFd;
    std::mutex RxMutex;
    TVaCommBuffer RxBuf;
    char EventChar = 0;
    bool NullStrip = false;
    std::atomic<bool> Gone{false};
    std::uint32_t ErrorWord = 0;
    bool HaveCounters = false;
    int Counters[5] = {0, 0, 0, 0, 0}; // frame, overrun, parity, buffer overrun, break
    bool HaveModemLines = false;
    bool PseudoTerminal = false;
    std::atomic<std::uint32_t> PendingEvents{0};
    std::atomic<bool> TxWatch{false};
    std::atomic<int> ReadHint{0}; // see TVaCustomComm::SetReadHint

private:
    std::uint32_t Filter(std::uint8_t* Data, int& Count);
};

class TVaCommEventThread {
public:
    TVaCommEventThread(TVaCustomComm& Port, std::shared_ptr<TVaCustomComm::TDevice> Device, std::uint32_t Mask,
                       IVaMainThread& Host);
    ~TVaCommEventThread();
    void Start(TVaThreadPriority Priority);
    // Marks the thread terminated, releases a hand-over it waits for and wakes it; does not wait.
    void StopThread();
    void Join();
    void SetPriority(TVaThreadPriority Priority);

private:
    void Execute();
    std::uint32_t GatherForHint(TVaCustomComm::TDevice& dev);
    TVaCustomComm& FPort;
    std::shared_ptr<TVaCustomComm::TDevice> FDevice;
    std::uint32_t FMask;
    TVaSynchronizer FSync;
    std::atomic<bool> FTerminated{false};
    std::atomic<int> FTid{0};
    std::thread FThread;
};

class TVaCommWriteThread {
public:
    enum TWriteResult { wdQueued, wdNoRoom, wdStopped };

    TVaCommWriteThread(TVaCustomComm& Port, std::shared_ptr<TVaCustomComm::TDevice> Device, int Capacity,
                       IVaMainThread& Host);
    ~TVaCommWriteThread();
    void Start(TVaThreadPriority Priority);
    void StopThread();
    void Join();
    void SetPriority(TVaThreadPriority Priority);

    // In the caller's thread: queues the bytes once there is room, waiting at most TimeoutMs for it; a gone
    // device takes nothing (wdStopped).
    TWriteResult WriteData(const void* Data, int Count, int TimeoutMs);
    // Main thread, under the global lock: empties the queue once the thread has acknowledged (2000 ms at
    // most).
    void PurgeWrite();
    // In the caller's thread: waits until the queue is empty; false when Until passed or the thread stops
    // first.
    bool WaitEmpty(std::chrono::steady_clock::time_point Until);
    int Used() const { return FFill.load(); }
    int Capacity() const { return FQueue.Capacity(); }

private:
    void Execute();
    void Wait(int TimeoutMs);
    void DropQueue();
    void HandOver(std::uint32_t EvtMask);
    void PostTxEmpty();
    TVaCustomComm& FPort;
    std::shared_ptr<TVaCustomComm::TDevice> FDevice;
    TVaCommBuffer FQueue;          // under the port's write lock
    std::uint64_t FGeneration = 0; // under the write lock; a purge moves it on
    std::atomic<int> FFill{0};     // FQueue.Count() for the unlocked looks
    std::atomic<bool> FStop{false};
    std::atomic<bool> FPurgeRequest{false};
    std::atomic<bool> FDataQueued{false};
    std::atomic<bool> FParked{false}; // waiting for the main thread, so not touching the queue
    TVaWaitEvent FPurgeAck;
    int FWakeFd;
    std::mutex FRoomMutex;
    std::condition_variable FRoomCond;
    TVaSynchronizer FSync;
    // The transmit-empty notice is posted, not handed over: a thread parked until the main thread runs it
    // would leave bytes queued meanwhile unwritten for as long as the main thread is busy elsewhere (in a
    // wait of its own, say), which is when a caller expects them on the line. Alive ends with StopThread, so
    // a notice that runs after Close calls nothing; Pending keeps to one notice on its way at a time.
    struct TNotice {
        std::atomic<bool> Alive{true};
        std::atomic<bool> Pending{false};
    };
    std::shared_ptr<TNotice> FNotice = std::make_shared<TNotice>();
    IVaMainThread& FHost;
    std::atomic<int> FTid{0};
    std::thread FThread;
};

} // namespace serial
