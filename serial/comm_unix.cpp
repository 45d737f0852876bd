// The device half of the port on POSIX termios: opening, the line configuration, status, purges and modem
// lines.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "serial/comm_device.h"
#include "serial/line_settings_unix.h"
#include "serial/termios2_linux.h"

namespace serial {

namespace {

// Fills the first "%d" with Code and the first "%s" with Text; a text without them comes out as it is.
std::string FormatError(const char* Format, int Code, const std::string& Text) {
    std::string s = Format;
    if (auto pos = s.find("%d"); pos != std::string::npos)
        s.replace(pos, 2, std::to_string(Code));
    if (auto pos = s.find("%s"); pos != std::string::npos)
        s.replace(pos, 2, Text);
    return s;
}

[[noreturn]] void RaiseErrno(const char* Format, int Code) {
    throw EVaCommError(FormatError(Format, Code, std::strerror(Code)));
}

speed_t StandardSpeed(unsigned Rate) {
    switch (Rate) {
    case 110:
        return B110;
    case 300:
        return B300;
    case 600:
        return B600;
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return B0;
    }
}

// A driver without modem lines (a pseudo-terminal) answers the modem ioctls with one of these.
bool NoModemLines(int Code) { return Code == ENOTTY || Code == EINVAL; }

} // namespace

unsigned FillTermios(termios& tio, TVaCustomComm& Port) {
    // Raw bytes both ways: no line editing, echo, signals or character translation.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK | IGNPAR | IUCLC | IMAXBEL);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ECHOE | ECHOK | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // CLOCAL: the carrier line does not gate reads and writes (its changes still come as EV_RLSD). HUPCL: DTR
    // and RTS drop when the port closes, as they do when the original closes its handle. EofChar marks
    // nothing in raw mode and has no termios counterpart.
    tio.c_cflag |= CREAD | CLOCAL | HUPCL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    const int rate = Port.Baudrate() == brUser ? Port.UserBaudrate() : BaudrateValue(Port.Baudrate());
    if (rate <= 0)
        RaiseErrno(sMsgDcb, EINVAL);
    const speed_t standard = StandardSpeed(static_cast<unsigned>(rate));
    if (standard != B0) {
        cfsetispeed(&tio, standard);
        cfsetospeed(&tio, standard);
    }

    // Five to eight data bits; termios has no four.
    static constexpr tcflag_t sizes[] = {0, CS5, CS6, CS7, CS8};
    if (Port.Databits() == db4)
        RaiseErrno(sMsgDcb, EINVAL);
    tio.c_cflag |= sizes[Port.Databits()];
    switch (Port.Parity()) {
    case paNone:
        break;
    case paOdd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case paEven:
        tio.c_cflag |= PARENB;
        break;
    case paMark:
        tio.c_cflag |= PARENB | CMSPAR | PARODD;
        break;
    case paSpace:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    // One and a half stop bits is what a UART sends for CSTOPB with five data bits; with more it sends two.
    if (Port.Stopbits() != sb1)
        tio.c_cflag |= CSTOPB;
    // Parity errors are checked only on request; a byte that fails the check arrives as NUL (the driver
    // cannot put ErrorChar in its place) and is counted as a line error.
    if (Port.Options().Contains(coParityCheck))
        tio.c_iflag |= INPCK;

    const TVaFlowControl& fc = Port.FlowControl();
    // Linux has one switch for both RTS/CTS directions. DSR flow, DSR sensitivity, DTR handshake and
    // "continue on XOFF" have no counterpart and are left out; the XON/XOFF limits are the driver's own.
    if (fc.OutCtsFlow() || fc.ControlRts() == rtsHandshake)
        tio.c_cflag |= CRTSCTS;
    if (fc.XonXoffOut())
        tio.c_iflag |= IXON;
    if (fc.XonXoffIn())
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(Port.EventChars().XonChar());
    tio.c_cc[VSTOP] = static_cast<cc_t>(Port.EventChars().XoffChar());

    return standard == B0 ? static_cast<unsigned>(rate) : 0;
}

void TVaCustomComm::RaiseOsError(const char* Format) const { RaiseErrno(Format, errno); }

void TVaCustomComm::CreateHandle() {
    const std::string path = DevicePath();
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        // ENODEV and ENXIO: the node exists but no device answers behind it, which to the user is the same.
        if (code == ENOENT || code == ENODEV || code == ENXIO)
            throw EVaCommError(FormatError(sMsgNotFound, 0, GetDeviceName()));
        throw EVaCommError(FormatError(sMsgCantOpen, 0, GetDeviceName()) +
                           FormatError(sMsgCantOpenDetail, code, std::strerror(code)));
    }
    // TIOCEXCL refuses further opens of the tty, except to root; the lock covers root and every other process
    // that locks its port, and a second port object of this process too.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno == EWOULDBLOCK ? EBUSY : errno;
        close(fd);
        throw EVaCommError(FormatError(sMsgCantOpen, 0, GetDeviceName()) +
                           FormatError(sMsgCantOpenDetail, code, std::strerror(code)));
    }
    (void)ioctl(fd, TIOCEXCL);

    const int capacity = FBuffers->ReadSize() > 0 ? FBuffers->ReadSize() : 4096; // a zero size would never read
    auto dev = std::make_shared<TDevice>(fd, capacity);
    int modem = 0;
    dev->HaveModemLines = ioctl(fd, TIOCMGET, &modem) == 0;
    struct stat st {};
    // Unix98 pseudo-terminal slaves have the majors 136 to 143.
    dev->PseudoTerminal =
        fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
    {
        std::lock_guard<std::mutex> lock(dev->RxMutex);
        // Only a driver that counts line errors (a UART) is looked at for them; a pseudo-terminal has none,
        // and then an idle port does not wake at all.
        serial_icounter_struct ic{};
        dev->HaveCounters = ioctl(fd, TIOCGICOUNT, &ic) == 0;
        (void)dev->UpdateCounters(); // the counts so far are history, not errors of this session
        dev->ErrorWord = 0;
    }
    std::lock_guard<TVaCriticalSection> global(FGlobalLock);
    std::lock_guard<TVaCriticalSection> lock(FWriteLock);
    FDevice = std::move(dev);
    FActive = true;
}

void TVaCustomComm::CloseHandle() {
    std::shared_ptr<TDevice> dev;
    {
        std::lock_guard<TVaCriticalSection> global(FGlobalLock);
        std::lock_guard<TVaCriticalSection> lock(FWriteLock);
        dev = std::move(FDevice);
        FActive = false;
    }
    if (!dev)
        return;
    (void)ioctl(dev->Fd, TIOCNXCL);
    close(dev->Fd); // also drops the lock
    dev->Fd = -1;
}

void TVaCustomComm::ApplyLineConfiguration() {
    if (!Active() || !FUpdateDCB)
        return;
    std::lock_guard<TVaCriticalSection> global(FGlobalLock);
    TDevice& dev = *FDevice;
    termios tio{};
    if (tcgetattr(dev.Fd, &tio) != 0)
        RaiseOsError(sMsgDcb);

    const unsigned custom = FillTermios(tio, *this);
    const int rate = FBaudrate == brUser ? FUserBaudrate : BaudrateValue(FBaudrate);

    if (tcsetattr(dev.Fd, TCSANOW, &tio) != 0)
        RaiseOsError(sMsgDcb);
    if (custom != 0) {
        if (const int code = SetTtySpeed(dev.Fd, custom); code != 0)
            RaiseErrno(sMsgDcb, code);
    }

    // The driver may quietly refuse part of it (a UART without mark parity, a rate it cannot make): read
    // back.
    termios back{};
    unsigned backRate = 0;
    if (tcgetattr(dev.Fd, &back) != 0)
        RaiseOsError(sMsgDcb);
    if (const int code = GetTtySpeed(dev.Fd, backRate); code != 0)
        RaiseErrno(sMsgDcb, code);
    // A pseudo-terminal always holds eight bits without parity whatever it is asked: there is no line to
    // frame.
    const tcflag_t checked =
        dev.PseudoTerminal ? PARODD | CMSPAR | CSTOPB | CRTSCTS : CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    // A UART makes its rate from a divisor, so the rate it holds may be near the one asked for: within 2 %
    // the receiver at the other end still samples every bit right.
    const double drift = std::abs(static_cast<double>(backRate) - rate) / rate;
    if ((back.c_cflag & checked) != (tio.c_cflag & checked) || drift > 0.02)
        RaiseErrno(sMsgDcb, EINVAL);

    {
        std::lock_guard<std::mutex> lock(dev.RxMutex);
        dev.EventChar = FEventChars->EventChar();
        dev.NullStrip = FOptions.Contains(coNullStrip);
    }

    // DTR and RTS are held as configured; under RTS/CTS the driver drives RTS, and "toggle" (RTS on while
    // sending) has no driver support, so RTS is left as it is. A pseudo-terminal has no modem lines: that is
    // no reason to refuse the port.
    if (dev.HaveModemLines) {
        const TVaFlowControl& fc = *FFlowControl;
        int dtr = TIOCM_DTR;
        int rts = TIOCM_RTS;
        const bool dtrOn = fc.ControlDtr() != dtrDisabled;
        if (ioctl(dev.Fd, dtrOn ? TIOCMBIS : TIOCMBIC, &dtr) != 0 && !NoModemLines(errno))
            RaiseOsError(sMsgDcb);
        if (fc.ControlRts() == rtsEnabled || fc.ControlRts() == rtsDisabled) {
            if (ioctl(dev.Fd, fc.ControlRts() == rtsEnabled ? TIOCMBIS : TIOCMBIC, &rts) != 0 && !NoModemLines(errno))
                RaiseOsError(sMsgDcb);
        }
    }
}

TVaCustomComm::TComStat TVaCustomComm::StatusQuery(bool TakeErrors) {
    TComStat stat;
    std::lock_guard<TVaCriticalSection> global(FGlobalLock);
    if (!Active())
        return stat;
    TDevice& dev = *FDevice;
    int inDriver = 0;
    int outDriver = 0;
    {
        std::lock_guard<std::mutex> lock(dev.RxMutex);
        (void)dev.UpdateCounters();
        stat.Errors = dev.ErrorWord;
        if (TakeErrors)
            dev.ErrorWord = 0;
        // A gone device holds nothing more; what it left in RxBuf is still there to read. Its loss is told
        // once by the event thread, not by every status call that follows.
        if (!dev.Gone && ioctl(dev.Fd, FIONREAD, &inDriver) != 0) {
            if (!TDevice::GoneError(errno))
                RaiseOsError(sMsgStatistics);
            dev.MarkGone();
            inDriver = 0;
        }
        stat.InQue = static_cast<std::uint32_t>(dev.RxBuf.Count() + inDriver);
    }
    if (!dev.Gone && ioctl(dev.Fd, TIOCOUTQ, &outDriver) != 0) {
        if (!TDevice::GoneError(errno))
            RaiseOsError(sMsgStatistics);
        dev.MarkGone();
        outDriver = 0;
    }
    stat.OutQue = static_cast<std::uint32_t>(outDriver);
    // The hold flags (CTS, DSR, RLSD, XOFF hold, XOFF sent, EOF, TX immediate) are not reported by the
    // driver.
    return stat;
}

void TVaCustomComm::DriverPurge(unsigned Flags) {
    TDevice& dev = *FDevice;
    const bool rx = (Flags & PURGE_RX) != 0;
    const bool tx = (Flags & PURGE_TX) != 0;
    std::lock_guard<std::mutex> lock(dev.RxMutex);
    const int queue = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    // A gone device has nothing left to purge but what RxBuf holds.
    if (!dev.Gone && tcflush(dev.Fd, queue) != 0) {
        if (!TDevice::GoneError(errno))
            RaiseOsError(sMsgPurge);
        dev.MarkGone();
    }
    if (rx) {
        dev.RxBuf.Clear();
        dev.PendingEvents.fetch_and(~(EV_RXCHAR | EV_RXFLAG | EV_RX80FULL));
    }
}

bool TVaCustomComm::Drain() { return DrainWithin(kDrainSlackMs); }

bool TVaCustomComm::DrainWithin(int SlackMs) {
    if (!Active())
        return false;
    std::shared_ptr<TVaCommWriteThread> writer;
    {
        std::lock_guard<TVaCriticalSection> lock(FWriteLock);
        writer = FWriteThread;
    }
    // The device is looked at only under the global lock with the port still open: Close takes the device
    // away under that lock, so its descriptor cannot be closed (and its number reused) under a look.
    auto driverQueue = [this](int& Queued) {
        std::lock_guard<TVaCriticalSection> global(FGlobalLock);
        if (!Active() || FDevice->Gone)
            return false;
        if (ioctl(FDevice->Fd, TIOCOUTQ, &Queued) != 0) {
            if (!TDevice::GoneError(errno))
                RaiseOsError(sMsgWriteError);
            FDevice->MarkGone();
            return false;
        }
        return true;
    };
    int queued = 0;
    if (!driverQueue(queued))
        return false;
    // Twelve bits a byte covers start, eight data bits, parity and two stop bits. The slack covers a loaded
    // machine's scheduling and a short flow-control hold; a line held longer is stalled, and then waiting
    // on would only keep the caller (a transfer that wants to report its end) from going on.
    const int rate = std::max(FBaudrate == brUser ? FUserBaudrate : BaudrateValue(FBaudrate), 110);
    const long long pending = static_cast<long long>(writer ? writer->Used() : 0) + queued;
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(SlackMs + pending * 12 * 1000 / rate);
    if (writer && !writer->WaitEmpty(until))
        return false;
    // The driver has no wait for its queue with a time-out, and tcdrain waits without one for as long as
    // flow control holds the line; so the queue is watched until empty, and only then does tcdrain wait for
    // the last bytes (a UART's FIFO and shift register), which a serial driver bounds itself.
    for (;;) {
        {
            std::lock_guard<TVaCriticalSection> global(FGlobalLock);
            if (!Active() || FDevice->Gone)
                return false;
            int inDriver = 0;
            if (ioctl(FDevice->Fd, TIOCOUTQ, &inDriver) != 0) {
                if (!TDevice::GoneError(errno))
                    RaiseOsError(sMsgWriteError);
                FDevice->MarkGone();
                return false;
            }
            if (inDriver == 0) {
                while (tcdrain(FDevice->Fd) != 0) {
                    if (TDevice::GoneError(errno)) {
                        FDevice->MarkGone();
                        return false;
                    }
                    if (errno != EINTR)
                        RaiseOsError(sMsgWriteError);
                }
                return true;
            }
        }
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

int TVaCustomComm::DirectWriteBuf(TDevice& Device, const void* Buffer, int Count) {
    std::lock_guard<TVaCriticalSection> lock(FWriteLock);
    if (Device.Fd < 0)
        return 0;
    const auto* data = static_cast<const std::uint8_t*>(Buffer);
    int written = 0;
    TVaTimeEvent timer;
    InitTimer(timer, static_cast<std::uint32_t>(FBuffers->ReadTimeout()));
    while (written < Count) {
        const ssize_t n = write(Device.Fd, data + written, static_cast<std::size_t>(Count - written));
        if (n > 0) {
            written += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && TDevice::GoneError(errno)) {
            Device.MarkGone();
            break;
        }
        if (n < 0 && errno != EAGAIN)
            RaiseOsError(sMsgWriteError);
        if (TimerExpired(timer))
            break;
        pollfd fd{Device.Fd, POLLOUT, 0};
        (void)poll(&fd, 1, 10);
    }
    // What went out is reported even when the time ran out: those bytes are on their way and cannot be taken
    // back. The device is non-blocking, so no operation outlives this call and nothing has to stay valid
    // after it.
    if (written > 0 && (FEventMask & EV_TXEMPTY)) {
        Device.TxWatch = true;
        Device.Kick();
    }
    return written;
}

void TVaCustomComm::Escape(TVaEscapeFunction Function) {
    std::lock_guard<TVaCriticalSection> global(FGlobalLock);
    const int fd = FDevice->Fd;
    int dtr = TIOCM_DTR;
    int rts = TIOCM_RTS;
    int r = 0;
    switch (Function) {
    case SETXOFF:
        r = tcflow(fd, TCOOFF);
        break;
    case SETXON:
        r = tcflow(fd, TCOON);
        break;
    case SETRTS:
        r = ioctl(fd, TIOCMBIS, &rts);
        break;
    case CLRRTS:
        r = ioctl(fd, TIOCMBIC, &rts);
        break;
    case SETDTR:
        r = ioctl(fd, TIOCMBIS, &dtr);
        break;
    case CLRDTR:
        r = ioctl(fd, TIOCMBIC, &dtr);
        break;
    case RESETDEV:
        break; // only printers reset; a serial port has nothing to do
    case SETBREAK:
        r = ioctl(fd, TIOCSBRK);
        break;
    case CLRBREAK:
        r = ioctl(fd, TIOCCBRK);
        break;
    }
    if (r != 0)
        RaiseOsError(sMsgEscape);
}

bool TVaCustomComm::GetModemStatus(int Index) {
    int bits = 0;
    if (Active()) {
        std::lock_guard<TVaCriticalSection> global(FGlobalLock);
        if (ioctl(FDevice->Fd, TIOCMGET, &bits) != 0) {
            if (!NoModemLines(errno))
                RaiseOsError(sMsgModemState);
            bits = 0; // no modem lines: every line reads as off, as on a closed port
        }
    }
    switch (Index) {
    case 1:
        return (bits & TIOCM_CTS) != 0;
    case 2:
        return (bits & TIOCM_DSR) != 0;
    case 3:
        return (bits & TIOCM_RI) != 0;
    case 4:
        return (bits & TIOCM_CD) != 0;
    default:
        return false;
    }
}

TVaCommProp TVaCustomComm::GetProperties() {
    if (!Active())
        throw EVaCommError(sMsgPortClosed);
    TVaCommProp p{};
    termios tio{};
    {
        std::lock_guard<TVaCriticalSection> global(FGlobalLock);
        if (tcgetattr(FDevice->Fd, &tio) != 0)
            RaiseOsError(sMsgProperties);
    }
    p.wPacketLength = sizeof(TVaCommProp);
    p.wPacketVersion = 2;
    p.dwServiceMask = 0x1;                          // SP_SERIALCOMM
    p.dwMaxBaud = 0x10000000;                       // BAUD_USER: any rate the driver can make
    p.dwProvSubType = 0x1;                          // PST_RS232
    p.dwProvCapabilities = 0x2 | 0x8 | 0x10 | 0x20; // RTS/CTS, parity check, XON/XOFF, settable XON/XOFF chars
    p.dwSettableParams = 0x1 | 0x2 | 0x4 | 0x8 | 0x10 | 0x20;
    p.dwSettableBaud = 0x2 | 0x4 | 0x8 | 0x40 | 0x80 | 0x100 | 0x200 | 0x1000 | 0x2000 | 0x4000 | 0x8000 | 0x10000 |
                       0x20000 | 0x40000 | 0x10000000;
    p.wSettableData = 0x1 | 0x2 | 0x4 | 0x8;                                    // 5 to 8 data bits
    p.wSettableStopParity = 0x1 | 0x4 | 0x100 | 0x200 | 0x400 | 0x800 | 0x1000; // 1 or 2 stop bits, all parities
    p.dwCurrentTxQueue = static_cast<std::uint32_t>(FBuffers->WriteSize());
    p.dwCurrentRxQueue = static_cast<std::uint32_t>(FBuffers->ReadSize());
    return p;
}

} // namespace serial
