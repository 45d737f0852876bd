#include "tools/unitsim/line.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include "tools/unitsim/line_codec.h"

namespace unitsim {

volatile std::sig_atomic_t g_stopRequested = 0;

namespace {

// The signals that stop the unit stay blocked except inside these waits, so a stop can never slip in between
// the test of the flag and the wait.
sigset_t waitMask() {
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    sigdelset(&mask, SIGINT);
    sigdelset(&mask, SIGTERM);
    sigdelset(&mask, SIGHUP);
    return mask;
}

timespec toTimespec(Clock::duration d) {
    if (d < Clock::duration::zero())
        d = Clock::duration::zero();
    auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

// poll on one descriptor that wakes on a stop; returns revents, 0 on time-out, -1 on a stop.
int pollOne(int fd, short events, Clock::time_point deadline) {
    sigset_t mask = waitMask();
    for (;;) {
        if (g_stopRequested)
            return -1;
        pollfd p{fd, events, 0};
        timespec ts = toTimespec(deadline - Clock::now());
        int r = ppoll(&p, 1, &ts, &mask);
        if (r < 0) {
            if (errno == EINTR)
                continue;
            return POLLERR;
        }
        if (r == 0)
            return 0;
        return p.revents;
    }
}

std::string wallClock() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    tm parts{};
    localtime_r(&tv.tv_sec, &parts);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03ld", parts.tm_hour, parts.tm_min, parts.tm_sec,
                  static_cast<long>(tv.tv_usec / 1000));
    return buf;
}

} // namespace

bool sleepUntil(Clock::time_point deadline) {
    sigset_t mask = waitMask();
    while (!g_stopRequested) {
        auto now = Clock::now();
        if (now >= deadline)
            return true;
        timespec ts = toTimespec(deadline - now);
        ppoll(nullptr, 0, &ts, &mask);
    }
    return false;
}

// ---- Transcript ----

Transcript::Transcript(const std::string& path) {
    if (!path.empty())
        file_ = std::fopen(path.c_str(), "a");
}

Transcript::~Transcript() {
    flush();
    if (file_)
        std::fclose(file_);
}

void Transcript::startLine(bool fromUnit) {
    flush();
    open_ = true;
    fromUnit_ = fromUnit;
    std::fprintf(file_, "%s %s ", wallClock().c_str(), fromUnit ? "unit>" : "<host");
}

void Transcript::byte(bool fromUnit, std::uint8_t b, const char* fault) {
    if (!file_)
        return;
    auto now = Clock::now();
    // A pause of more than 20 ms starts a new line, so the time stamps show where the line went quiet.
    if (!open_ || fromUnit != fromUnit_ || count_ >= 16 || now - last_ > std::chrono::milliseconds(20) || fault) {
        startLine(fromUnit);
    }
    last_ = now;
    char hx[4];
    std::snprintf(hx, sizeof hx, "%02x ", b);
    hex_ += hx;
    if (b >= 0x20 && b < 0x7F) {
        text_ += static_cast<char>(b);
    } else if (b >= 0xC0) {
        text_ += lineToUtf8(std::string(1, static_cast<char>(b)));
    } else {
        text_ += '.';
    }
    ++count_;
    if (fault) {
        std::fprintf(file_, "%-48s |%s|  [%s]\n", hex_.c_str(), text_.c_str(), fault);
        hex_.clear();
        text_.clear();
        count_ = 0;
        open_ = false;
    }
}

void Transcript::note(const std::string& text) {
    if (!file_)
        return;
    flush();
    std::fprintf(file_, "%s ----- %s\n", wallClock().c_str(), text.c_str());
    std::fflush(file_);
}

void Transcript::flush() {
    if (!file_ || !open_)
        return;
    std::fprintf(file_, "%-48s |%s|\n", hex_.c_str(), text_.c_str());
    std::fflush(file_);
    hex_.clear();
    text_.clear();
    count_ = 0;
    open_ = false;
}

// ---- Line ----

Line::Line(int masterFd, const LineOptions& options, Transcript* transcript)
    : fd_(masterFd), options_(options), transcript_(transcript), random_(options.seed) {
    if (options_.baud > 0) {
        byteTime_ = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(11.0 / options_.baud));
    }
}

void Line::resetAfterPeer() {
    inBuffer_.clear();
    inPos_ = 0;
    peerGone_ = false;
    inTransfer_ = false;
}

bool Line::faultApplies(bool outgoing) const {
    if (options_.faultsOnlyInTransfer && !inTransfer_)
        return false;
    switch (options_.faultDirection) {
    case FaultDirection::In:
        return !outgoing;
    case FaultDirection::Out:
        return outgoing;
    case FaultDirection::Both:
        return true;
    }
    return true;
}

bool Line::chance(double rate) {
    if (rate <= 0)
        return false;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < rate;
}

void Line::beginTransfer() {
    inTransfer_ = true;
    transferBytes_ = 0;
}

void Line::endTransfer() { inTransfer_ = false; }

void Line::countTransferByte() {
    if (!inTransfer_ || options_.hangupAfter < 0)
        return;
    if (++transferBytes_ >= options_.hangupAfter && !unitHungUp_) {
        unitHungUp_ = true;
        if (transcript_)
            transcript_->note("fault: the unit drops the line after " + std::to_string(transferBytes_) +
                              " bytes of the transfer");
    }
}

bool Line::fill(int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int ev = pollOne(fd_, POLLIN, deadline);
        if (ev < 0)
            return false;
        if (ev == 0)
            return false;
        if (ev & POLLIN) {
            char buf[4096];
            ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n > 0) {
                if (inPos_ > 0) {
                    inBuffer_.erase(0, inPos_);
                    inPos_ = 0;
                }
                inBuffer_.append(buf, static_cast<std::size_t>(n));
                return true;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            peerGone_ = true;
            return false;
        }
        // POLLHUP without data: nobody holds the slave end any more.
        peerGone_ = true;
        return false;
    }
}

Line::Status Line::readByte(std::uint8_t& byte, int timeoutMs) {
    for (;;) {
        if (closed())
            return Status::Closed;
        if (inPos_ >= inBuffer_.size()) {
            if (!fill(timeoutMs))
                return closed() ? Status::Closed : Status::Timeout;
            // The line was idle until these bytes came (as far as the unit can tell): idle time is not banked.
            if (byteTime_ > Clock::duration::zero())
                nextIn_ = std::max(nextIn_, Clock::now());
            continue;
        }
        if (replay_) {
            replay_ = false;
            byte = static_cast<std::uint8_t>(inBuffer_[inPos_++]);
            return Status::Ok;
        }
        if (byteTime_ > Clock::duration::zero()) {
            // Bytes are taken in no faster than the line carries them. Bytes already here were on the wire
            // meanwhile, so a unit that was kept from reading takes them at once: the rate is the line's,
            // not the line's less every scheduling delay of this process.
            if (!sleepUntil(nextIn_))
                return Status::Closed;
            nextIn_ += byteTime_;
        }
        auto b = static_cast<std::uint8_t>(inBuffer_[inPos_++]);
        countTransferByte();
        if (unitHungUp_)
            return Status::Closed;
        if (faultApplies(false) && chance(options_.dropRate)) {
            if (transcript_)
                transcript_->byte(false, b, "dropped");
            continue;
        }
        if (faultApplies(false) && chance(options_.corruptRate)) {
            auto changed = static_cast<std::uint8_t>(b ^ (1u + random_() % 255u));
            if (transcript_)
                transcript_->byte(false, changed, "corrupted");
            byte = changed;
            return Status::Ok;
        }
        if (transcript_)
            transcript_->byte(false, b);
        byte = b;
        return Status::Ok;
    }
}

bool Line::writeRaw(const std::uint8_t* data, std::size_t size) {
    std::size_t done = 0;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (done < size) {
        ssize_t n = ::write(fd_, data + done, size - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            // A peer that stops reading fills the pty; after ten seconds the bytes are given up as a line
            // would.
            int ev = pollOne(fd_, POLLOUT, deadline);
            if (ev < 0)
                return false;
            if (ev == 0)
                return false;
            if ((ev & POLLHUP) && !(ev & POLLOUT)) {
                peerGone_ = true;
                return false;
            }
            continue;
        }
        peerGone_ = true;
        return false;
    }
    return true;
}

void Line::write(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    // An idle line does not bank time.
    if (byteTime_ > Clock::duration::zero())
        nextOut_ = std::max(nextOut_, Clock::now());
    for (char ch : bytes) {
        if (closed())
            break;
        auto b = static_cast<std::uint8_t>(ch);
        countTransferByte();
        if (unitHungUp_)
            break;
        if (faultApplies(true) && chance(options_.dropRate)) {
            if (transcript_)
                transcript_->byte(true, b, "dropped");
            continue;
        }
        if (faultApplies(true) && chance(options_.corruptRate)) {
            b = static_cast<std::uint8_t>(b ^ (1u + random_() % 255u));
            if (transcript_)
                transcript_->byte(true, b, "corrupted");
        } else if (transcript_) {
            transcript_->byte(true, b);
        }
        if (byteTime_ > Clock::duration::zero()) {
            // Absolute deadlines from the start of the write, as a UART sends what it was given: one byte
            // every byte time, and a byte this process was late with goes at once instead of slowing the
            // rest (lost time would make the line slower than its rate).
            if (!sleepUntil(nextOut_))
                return;
            nextOut_ += byteTime_;
            if (!writeRaw(&b, 1))
                return;
        } else {
            out += static_cast<char>(b);
        }
    }
    if (!out.empty())
        writeRaw(reinterpret_cast<const std::uint8_t*>(out.data()), out.size());
    if (transcript_)
        transcript_->flush();
}

void Line::unread(std::uint8_t byte) {
    if (inPos_ > 0) {
        inBuffer_[--inPos_] = static_cast<char>(byte);
    } else {
        inBuffer_.insert(inBuffer_.begin(), static_cast<char>(byte));
    }
    replay_ = true;
}

void Line::drain(int quietMs) {
    std::uint8_t b = 0;
    while (readByte(b, quietMs) == Status::Ok) {
    }
}

} // namespace unitsim
