// The unit's end of the serial line: a pseudo-terminal master with the line rate, the injected faults and the
// transcript applied byte by byte. Everything the unit says or hears passes through one Line.
#pragma once

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace unitsim {

using Clock = std::chrono::steady_clock;

enum class FaultDirection { In, Out, Both };

struct LineOptions {
    long baud = 0;          // 0: no throttle; otherwise 11 bits per byte (8N2 with its start bit)
    double dropRate = 0;    // share of bytes lost
    double corruptRate = 0; // share of bytes changed
    std::uint64_t seed = 1; // the same seed gives the same faults for the same traffic
    FaultDirection faultDirection = FaultDirection::Both;
    bool faultsOnlyInTransfer = false;
    long hangupAfter = -1; // bytes of one block transfer after which the unit drops the line; -1 never
};

// A person-readable record of every byte with time stamps: one line per burst in one direction.
class Transcript {
public:
    explicit Transcript(const std::string& path);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    bool isOpen() const { return file_ != nullptr; }
    void byte(bool fromUnit, std::uint8_t b, const char* fault = nullptr);
    void note(const std::string& text);
    void flush();

private:
    void startLine(bool fromUnit);

    std::FILE* file_ = nullptr;
    bool open_ = false;
    bool fromUnit_ = false;
    std::string hex_;
    std::string text_;
    int count_ = 0;
    Clock::time_point last_{};
};

// Set by the signal handler; every wait of the unit returns when it is set.
extern volatile std::sig_atomic_t g_stopRequested;

// Sleeps until the deadline unless a stop is requested; false on a stop.
bool sleepUntil(Clock::time_point deadline);

class Line {
public:
    enum class Status { Ok, Timeout, Closed };

    Line(int masterFd, const LineOptions& options, Transcript* transcript);

    // One byte as the unit takes it in, after the line rate and the faults. Closed when the peer hung up, the
    // unit was stopped or has dropped the line itself.
    Status readByte(std::uint8_t& byte, int timeoutMs);
    // Whole text, paced and faulted byte by byte. Errors of a vanished peer mark the line closed.
    void write(std::string_view bytes);
    // Gives back the byte just read: the next readByte returns it again (without pacing or faults).
    void unread(std::uint8_t byte);
    // Throws away what arrives until the line has been quiet for quietMs (or is closed).
    void drain(int quietMs);

    void beginTransfer();
    void endTransfer();

    bool closed() const { return peerGone_ || unitHungUp_ || g_stopRequested; }
    bool peerGone() const { return peerGone_; }
    bool unitHungUp() const { return unitHungUp_; }
    void resetAfterPeer();
    Transcript* transcript() { return transcript_; }

private:
    bool faultApplies(bool outgoing) const;
    bool chance(double rate);
    void countTransferByte();
    bool fill(int timeoutMs);
    bool writeRaw(const std::uint8_t* data, std::size_t size);

    int fd_;
    LineOptions options_;
    Transcript* transcript_;
    std::mt19937_64 random_;
    std::string inBuffer_;
    std::size_t inPos_ = 0;
    Clock::duration byteTime_{};
    Clock::time_point nextOut_{};
    Clock::time_point nextIn_{};
    bool inTransfer_ = false;
    long transferBytes_ = 0;
    bool replay_ = false; // the next byte was given back by unread
    bool peerGone_ = false;
    bool unitHungUp_ = false;
};

} // namespace unitsim
