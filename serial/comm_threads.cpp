// The event and write threads of an open port, and the received-byte store they share with it.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "serial/comm_device.h"

namespace serial {

namespace {

// Modem lines and line-error counters cannot be waited for with poll; where the driver has them and they are
// monitored, the event thread looks at them this often.
constexpr int kLinePollMs = 50;
// How long the event thread gathers received bytes after handing over a notice of some (see Execute): a few
// milliseconds, short against a block's time on the line.
constexpr int kRxGatherMs = 4;
// The longest the notice of received bytes is held back for a reader's hint (see GatherForHint); how long the
// first look waits before the rate of the line is known; and how long nothing must come for the line to count
// as quiet (longer than a sender's scheduling hiccup, short against the reader's time-outs).
constexpr int kRxHintMaxMs = 100;
constexpr int kRxHintFirstLookMs = 2;
constexpr int kRxQuietMs = 5;
// How long the write thread waits after a failed write before it tries the same bytes again.
constexpr int kWriteRetryMs = 500;
// How often the event thread looks at the output queue after a direct write until it is empty.
constexpr int kTxWatchMs = 10;

void DrainWake(int fd) {
    std::uint64_t value = 0;
    while (read(fd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

void Wake(int fd) {
    const std::uint64_t one = 1;
    while (write(fd, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

// Nice values for the thread priorities. Raising needs privileges; without them the thread keeps its
// priority, which costs timing only, never function.
void ApplyPriority(int tid, TVaThreadPriority Priority) {
    static constexpr int nice[] = {19, 10, 5, 0, -5, -10, -15};
    if (tid != 0)
        (void)setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice[Priority]);
}

int CurrentTid() { return static_cast<int>(syscall(SYS_gettid)); }

} // namespace

TVaCustomComm::TDevice::TDevice(int DeviceFd, int RxCapacity)
    : Fd(DeviceFd), WakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), RxBuf(RxCapacity) {}

TVaCustomComm::TDevice::~TDevice() {
    if (WakeFd >= 0)
        close(WakeFd);
}

std::uint32_t TVaCustomComm::TDevice::Filter(std::uint8_t* Data, int& Count) {
    std::uint32_t events = 0;
    if (NullStrip) {
        int kept = 0;
        for (int i = 0; i < Count; ++i)
            if (Data[i] != 0)
                Data[kept++] = Data[i];
        Count = kept;
    }
    if (Count > 0) {
        events |= EV_RXCHAR;
        if (std::memchr(Data, static_cast<unsigned char>(EventChar), static_cast<std::size_t>(Count)) != nullptr)
            events |= EV_RXFLAG;
    }
    return events;
}

std::uint32_t TVaCustomComm::TDevice::PullInput(bool HangupSeen) {
    std::uint32_t events = 0;
    const int before = RxBuf.Count();
    std::uint8_t chunk[4096];
    while (RxBuf.Free() > 0) {
        const ssize_t n = read(Fd, chunk, std::min<std::size_t>(sizeof chunk, static_cast<std::size_t>(RxBuf.Free())));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            // 0 from a tty with VMIN 0 means nothing waits, unless poll said hang-up: then it is a hung-up
            // tty, which reads nothing for ever. EIO: the other end (pty master, USB adapter) is gone.
            if ((n == 0 && HangupSeen) || (n < 0 && GoneError(errno)))
                MarkGone();
            break;
        }
        int count = static_cast<int>(n);
        events |= Filter(chunk, count);
        RxBuf.Write(chunk, count);
    }
    const int full80 = RxBuf.Capacity() * 8 / 10;
    if (before < full80 && RxBuf.Count() >= full80)
        events |= EV_RX80FULL;
    return events;
}

int TVaCustomComm::TDevice::ReadDriver(std::uint8_t* Data, int Count, std::uint32_t& Events, int& Error) {
    int total = 0;
    Error = 0;
    while (total < Count) {
        const ssize_t n = read(Fd, Data + total, static_cast<std::size_t>(Count - total));
        if (n < 0 && errno == EINTR)
            continue;
        // Nothing more waiting, or the other end hung up (EIO): no bytes, but no failure of the port either;
        // the hang-up is told once, as the line's loss.
        if (n < 0 && GoneError(errno))
            MarkGone();
        else if (n < 0 && errno != EAGAIN)
            Error = errno;
        if (n <= 0)
            break;
        int count = static_cast<int>(n);
        Events |= Filter(Data + total, count);
        total += count;
    }
    return total;
}

std::uint32_t TVaCustomComm::TDevice::UpdateCounters() {
    if (!HaveCounters)
        return 0;
    serial_icounter_struct ic{};
    if (ioctl(Fd, TIOCGICOUNT, &ic) != 0)
        return 0;
    const int now[5] = {ic.frame, ic.overrun, ic.parity, ic.buf_overrun, ic.brk};
    static constexpr std::uint32_t bits[5] = {CE_FRAME, CE_OVERRUN, CE_RXPARITY, CE_RXOVER, CE_BREAK};
    std::uint32_t events = 0;
    for (int i = 0; i < 5; ++i) {
        if (now[i] != Counters[i]) {
            ErrorWord |= bits[i];
            events |= i == 4 ? EV_BREAK : EV_ERR;
            Counters[i] = now[i];
        }
    }
    return events;
}

void TVaCustomComm::TDevice::MarkGone() {
    if (!Gone.exchange(true))
        Wake(WakeFd);
}

bool TVaCustomComm::TDevice::GoneError(int Code) { return Code == EIO || Code == ENXIO || Code == ENODEV; }

void TVaCustomComm::TDevice::Kick(std::uint32_t Events) {
    if (Events != 0)
        PendingEvents.fetch_or(Events);
    Wake(WakeFd);
}

// ---------------------------------------------------------------------------------------------------------------

TVaCommEventThread::TVaCommEventThread(TVaCustomComm& Port, std::shared_ptr<TVaCustomComm::TDevice> Device,
                                       std::uint32_t Mask, IVaMainThread& Host)
    : FPort(Port), FDevice(std::move(Device)), FMask(Mask), FSync(Host) {}

TVaCommEventThread::~TVaCommEventThread() {
    StopThread();
    Join();
}

void TVaCommEventThread::Start(TVaThreadPriority Priority) {
    FThread = std::thread([this, Priority] {
        FTid = CurrentTid();
        ApplyPriority(FTid, Priority);
        Execute();
    });
}

void TVaCommEventThread::StopThread() {
    FTerminated = true;
    FSync.Release();
    FDevice->Kick();
}

void TVaCommEventThread::Join() {
    if (FThread.joinable())
        FThread.join();
}

void TVaCommEventThread::SetPriority(TVaThreadPriority Priority) { ApplyPriority(FTid, Priority); }

void TVaCommEventThread::Execute() {
    TVaCustomComm::TDevice& dev = *FDevice;
    const bool wantRx = (FMask & (EV_RXCHAR | EV_RXFLAG | EV_RX80FULL)) != 0;
    const bool wantModem = dev.HaveModemLines && (FMask & (EV_CTS | EV_DSR | EV_RING | EV_RLSD)) != 0;
    const bool wantCounters = dev.HaveCounters && (FMask & (EV_ERR | EV_BREAK)) != 0;
    int modem = 0;
    if (wantModem)
        (void)ioctl(dev.Fd, TIOCMGET, &modem);

    bool lossTold = false;
    while (!FTerminated) {
        if (dev.Gone) {
            // A gone device stays gone: told once, then only Close wakes this thread again. Looking at it on
            // would make every poll return at once and every status call fail.
            if (!lossTold && !FTerminated) {
                lossTold = true;
                TVaCustomComm* port = &FPort;
                FSync.Run([port] { port->DoLineLost(); });
                continue;
            }
            pollfd wake{dev.WakeFd, POLLIN, 0};
            if (poll(&wake, 1, -1) > 0 && (wake.revents & POLLIN))
                DrainWake(dev.WakeFd);
            continue;
        }
        bool full = false;
        {
            std::lock_guard<std::mutex> lock(dev.RxMutex);
            full = dev.RxBuf.Free() == 0;
        }
        // The device is always polled, for POLLHUP and POLLERR at least (poll reports them unasked): a
        // hang-up must be seen even while nothing is read.
        pollfd fds[2] = {{dev.WakeFd, POLLIN, 0}, {dev.Fd, 0, 0}};
        // While RxBuf is full the driver keeps the bytes (and throttles the line where flow control is on);
        // the next read makes room and wakes this thread.
        const bool watchRx = wantRx && !full;
        if (watchRx)
            fds[1].events = POLLIN;
        int timeout = -1;
        if (wantModem || wantCounters)
            timeout = kLinePollMs;
        if (dev.TxWatch)
            timeout = timeout < 0 ? kTxWatchMs : std::min(timeout, kTxWatchMs);

        const int r = poll(fds, 2, timeout);
        if (r < 0 && errno != EINTR)
            continue;
        if (FTerminated)
            break;
        if (fds[0].revents & POLLIN)
            DrainWake(dev.WakeFd);
        std::uint32_t events = dev.PendingEvents.exchange(0);
        const bool hangup = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if (hangup && full) {
            // Nothing can be read to tell a hang-up from a device that still holds bytes: look again when
            // the reader has made room, or after a while, rather than at once for ever.
            pollfd wake{dev.WakeFd, POLLIN, 0};
            if (poll(&wake, 1, kLinePollMs) > 0 && (wake.revents & POLLIN))
                DrainWake(dev.WakeFd);
        }
        if ((watchRx && (fds[1].revents & POLLIN)) || hangup) {
            // A hang-up is read for what still waits before it; the read that gets nothing marks the loss.
            std::lock_guard<std::mutex> lock(dev.RxMutex);
            events |= dev.PullInput(hangup);
            // A full store reads nothing, so the status call tells whether the device is still there (a
            // hung-up tty answers it with EIO).
            int waiting = 0;
            if (hangup && !dev.Gone && dev.RxBuf.Free() == 0 && ioctl(dev.Fd, FIONREAD, &waiting) != 0 &&
                TVaCustomComm::TDevice::GoneError(errno))
                dev.MarkGone();
            if (!wantRx)
                events &= ~(EV_RXCHAR | EV_RXFLAG | EV_RX80FULL);
        }
        if (watchRx && !hangup && (events & EV_RXCHAR) != 0 && dev.ReadHint.load() > 0)
            events |= GatherForHint(dev);
        if (wantCounters) {
            std::lock_guard<std::mutex> lock(dev.RxMutex);
            events |= dev.UpdateCounters();
        }
        if (wantModem) {
            int now = 0;
            if (ioctl(dev.Fd, TIOCMGET, &now) == 0) {
                const int changed = now ^ modem;
                modem = now;
                if (changed & TIOCM_CTS)
                    events |= EV_CTS;
                if (changed & TIOCM_DSR)
                    events |= EV_DSR;
                if (changed & TIOCM_CD)
                    events |= EV_RLSD;
                if (changed & now & TIOCM_RI) // the ring indicator counts when it comes on
                    events |= EV_RING;
            }
        }
        if (dev.TxWatch) {
            int queued = 0;
            if (ioctl(dev.Fd, TIOCOUTQ, &queued) != 0 || queued == 0) {
                dev.TxWatch = false;
                events |= EV_TXEMPTY;
            }
        }
        // EV_PERR (printer error) and EV_EVENT1/EV_EVENT2 (provider-specific) have no source on this system
        // and never come.
        events &= FMask;
        if (events != 0 && !FTerminated) {
            TVaCustomComm* port = &FPort;
            FSync.Run([port, events] { port->DoEvent(events); });
            // A line that brings bytes one by one (a UART without a FIFO, a paced pty) would otherwise cost a
            // wake-up and a hand-over per byte, thousands a second through a whole download. What comes during
            // the pause is handed over with one notice; the first byte after a quiet line is never delayed.
            if ((events & (EV_RXCHAR | EV_RXFLAG)) != 0 && !FTerminated) {
                pollfd wake{dev.WakeFd, POLLIN, 0};
                if (poll(&wake, 1, kRxGatherMs) > 0 && (wake.revents & POLLIN))
                    DrainWake(dev.WakeFd);
            }
        }
    }
}

// The reader needs more bytes than are here: rather than wake it (and this thread) for every few bytes, sleep for
// about as long as the missing bytes take at the rate they have been coming, and look again. Returns, with the
// EV_ bits of what came meanwhile, once the bytes are here, nothing came for kRxQuietMs (the block was shorter,
// or something went wrong that the reader must see), the store is full, the hint or anything else woke this
// thread, or kRxHintMaxMs passed.
std::uint32_t TVaCommEventThread::GatherForHint(TVaCustomComm::TDevice& dev) {
    using Clock = std::chrono::steady_clock;
    using std::chrono::microseconds;
    const auto start = Clock::now();
    auto lastProgress = start;
    std::uint32_t events = 0;
    int first = -1;
    int have = 0;
    for (;;) {
        bool full = false;
        {
            std::lock_guard<std::mutex> lock(dev.RxMutex);
            have = dev.RxBuf.Count();
            full = dev.RxBuf.Free() == 0;
        }
        if (first < 0)
            first = have;
        const auto now = Clock::now();
        const long long elapsedUs = std::chrono::duration_cast<microseconds>(now - start).count();
        const long long quietUs = std::chrono::duration_cast<microseconds>(now - lastProgress).count();
        const int hint = dev.ReadHint.load();
        if (have >= hint || full || FTerminated || dev.Gone || elapsedUs >= kRxHintMaxMs * 1000LL ||
            quietUs >= kRxQuietMs * 1000LL)
            break;
        long long sleepUs = kRxHintFirstLookMs * 1000LL;
        if (have > first && elapsedUs > 0) {
            // A little short of the estimate: waking a moment early costs one look, waking late delays the
            // reader's answer to the sender.
            const double usPerByte = static_cast<double>(elapsedUs) / (have - first);
            sleepUs = static_cast<long long>((hint - have) * usPerByte * 0.9);
        }
        if (quietUs > 0)
            sleepUs = std::min(sleepUs, kRxQuietMs * 1000LL - quietUs);
        sleepUs = std::clamp<long long>(sleepUs, 1000, std::max(1000LL, kRxHintMaxMs * 1000LL - elapsedUs));
        // The device is watched for a hang-up only; bytes arriving do not end the sleep.
        pollfd fds[2] = {{dev.WakeFd, POLLIN, 0}, {dev.Fd, 0, 0}};
        const int r = poll(fds, 2, static_cast<int>((sleepUs + 999) / 1000));
        if (r < 0 && errno != EINTR)
            break;
        // A wake-up is left for the main loop, which reads what it brings.
        if (fds[0].revents & POLLIN)
            break;
        const bool hangup = (fds[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        int after = 0;
        {
            std::lock_guard<std::mutex> lock(dev.RxMutex);
            events |= dev.PullInput(hangup);
            after = dev.RxBuf.Count();
        }
        if (hangup)
            break;
        if (after != have)
            lastProgress = Clock::now();
    }
    return events;
}

// ---------------------------------------------------------------------------------------------------------------

TVaCommWriteThread::TVaCommWriteThread(TVaCustomComm& Port, std::shared_ptr<TVaCustomComm::TDevice> Device,
                                       int Capacity, IVaMainThread& Host)
    : FPort(Port), FDevice(std::move(Device)), FQueue(Capacity), FWakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      FSync(Host), FHost(Host) {}

TVaCommWriteThread::~TVaCommWriteThread() {
    StopThread();
    Join();
    if (FWakeFd >= 0)
        close(FWakeFd);
}

void TVaCommWriteThread::Start(TVaThreadPriority Priority) {
    FThread = std::thread([this, Priority] {
        FTid = CurrentTid();
        ApplyPriority(FTid, Priority);
        Execute();
    });
}

void TVaCommWriteThread::StopThread() {
    FStop = true;
    FNotice->Alive = false;
    FSync.Release();
    Wake(FWakeFd);
    { std::lock_guard<std::mutex> lock(FRoomMutex); }
    FRoomCond.notify_all();
}

void TVaCommWriteThread::Join() {
    if (FThread.joinable())
        FThread.join();
}

void TVaCommWriteThread::SetPriority(TVaThreadPriority Priority) { ApplyPriority(FTid, Priority); }

TVaCommWriteThread::TWriteResult TVaCommWriteThread::WriteData(const void* Data, int Count, int TimeoutMs) {
    if (Count <= 0)
        return wdQueued;
    const int capacity = FQueue.Capacity();
    for (;;) {
        if (FStop || FDevice->Gone)
            return wdStopped;
        if (FFill.load() + Count > capacity) {
            // Waits on the room signal instead of polling: a caller that fills the queue must not burn a core
            // for the whole time-out.
            std::unique_lock<std::mutex> lock(FRoomMutex);
            const bool room = FRoomCond.wait_for(lock, std::chrono::milliseconds(TimeoutMs), [&] {
                return FStop.load() || FDevice->Gone.load() || FFill.load() + Count <= capacity;
            });
            if (FStop || FDevice->Gone)
                return wdStopped;
            if (!room)
                return wdNoRoom;
        }
        std::lock_guard<TVaCriticalSection> lock(FPort.FWriteLock);
        // Another writer may have taken the room between the look and the lock.
        if (FQueue.Count() + Count > capacity)
            continue;
        FQueue.Write(Data, Count);
        FFill = FQueue.Count();
        FDataQueued = true;
        Wake(FWakeFd);
        return wdQueued;
    }
}

void TVaCommWriteThread::PurgeWrite() {
    FPurgeAck.ResetEvent();
    FPurgeRequest = true;
    Wake(FWakeFd);
    // A thread parked in a hand-over to this (main) thread cannot answer, and is not touching the queue
    // either.
    const bool acknowledged = FParked.load() || FPurgeAck.WaitFor(2000) == wrSignaled;
    FPurgeRequest = false;
    if (acknowledged)
        DropQueue();
}

void TVaCommWriteThread::DropQueue() {
    {
        std::lock_guard<TVaCriticalSection> lock(FPort.FWriteLock);
        FQueue.Clear();
        ++FGeneration;
        FFill = 0;
        FDataQueued = false;
    }
    { std::lock_guard<std::mutex> lock(FRoomMutex); }
    FRoomCond.notify_all();
}

bool TVaCommWriteThread::WaitEmpty(std::chrono::steady_clock::time_point Until) {
    // The room signal comes after every write that took bytes off the queue, so it also tells when the
    // queue ran empty.
    std::unique_lock<std::mutex> lock(FRoomMutex);
    FRoomCond.wait_until(lock, Until, [&] { return FStop.load() || FDevice->Gone.load() || FFill.load() == 0; });
    return !FStop && !FDevice->Gone && FFill.load() == 0;
}

void TVaCommWriteThread::Wait(int TimeoutMs) {
    pollfd fd{FWakeFd, POLLIN, 0};
    if (poll(&fd, 1, TimeoutMs) > 0)
        DrainWake(FWakeFd);
}

void TVaCommWriteThread::HandOver(std::uint32_t EvtMask) {
    FParked = true;
    if (FPurgeRequest)
        FPurgeAck.SetEvent();
    TVaCustomComm* port = &FPort;
    FSync.Run([port, EvtMask] { port->DoLineEvent(EvtMask); });
    FParked = false;
}

void TVaCommWriteThread::PostTxEmpty() {
    // A notice already on its way tells of this emptiness too.
    if (FNotice->Pending.exchange(true))
        return;
    std::shared_ptr<TNotice> notice = FNotice;
    TVaCustomComm* port = &FPort;
    FHost.Post([notice, port] {
        notice->Pending = false;
        if (notice->Alive)
            port->DoLineEvent(EV_TXEMPTY);
    });
}

void TVaCommWriteThread::Execute() {
    const int fd = FDevice->Fd;
    while (!FStop) {
        if (FPurgeRequest.exchange(false)) {
            FPurgeAck.SetEvent();
            continue;
        }
        if (FDevice->Gone) {
            // Nothing queued can reach a gone device: the queue is dropped (which releases writers waiting
            // for room, and Drain) and the thread waits for Close without another write or notice.
            DropQueue();
            Wait(-1);
            continue;
        }
        if (!FDataQueued) {
            Wait(-1);
            continue;
        }
        const std::uint8_t* data = nullptr;
        int count = 0;
        std::uint64_t generation = 0;
        {
            std::lock_guard<TVaCriticalSection> lock(FPort.FWriteLock);
            data = FQueue.DataPtr();
            count = FQueue.Count();
            generation = FGeneration;
            if (count == 0)
                FDataQueued = false;
        }
        if (count == 0)
            continue;
        // Only this thread removes bytes from the front, and callers only append behind them, so the bytes
        // [data, data + count) stay in place while they are written without the lock.
        const ssize_t n = write(fd, data, static_cast<std::size_t>(count));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd fds[2] = {{FWakeFd, POLLIN, 0}, {fd, POLLOUT, 0}};
            if (poll(fds, 2, -1) > 0 && (fds[0].revents & POLLIN))
                DrainWake(FWakeFd);
            continue;
        }
        if (n < 0 && TVaCustomComm::TDevice::GoneError(errno)) {
            FDevice->MarkGone();
            continue;
        }
        if (n <= 0) {
            HandOver(EV_ERR);
            // The bytes stay queued for the next try; waiting first keeps a dead line from turning into a
            // stream of error notices.
            Wait(kWriteRetryMs);
            continue;
        }
        bool empty = false;
        {
            std::lock_guard<TVaCriticalSection> lock(FPort.FWriteLock);
            if (generation != FGeneration)
                continue; // purged meanwhile: what was written is gone from the queue already
            FQueue.Remove(static_cast<int>(n));
            FFill = FQueue.Count();
            empty = FQueue.Count() == 0;
            if (empty)
                FDataQueued = false;
        }
        { std::lock_guard<std::mutex> lock(FRoomMutex); }
        FRoomCond.notify_all();
        if (empty && !FStop)
            PostTxEmpty();
    }
}

} // namespace serial
