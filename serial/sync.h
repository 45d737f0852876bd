// Synchronisation objects of the serial threads and the millisecond tick timer used for time-outs.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace serial {

enum TVaWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Infinite wait for WaitFor.
inline constexpr std::uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

// An event flag that threads wait on. A manual-reset event stays signalled until ResetEvent; an auto-reset
// one releases exactly one waiter and clears itself.
class TVaEvent {
public:
    TVaEvent(bool ManualReset, bool InitialState);
    TVaEvent(const TVaEvent&) = delete;
    TVaEvent& operator=(const TVaEvent&) = delete;

    void SetEvent();
    void ResetEvent();
    // Milliseconds, or INFINITE_WAIT. Never returns wrAbandoned or wrError here: the primitives cannot fail.
    TVaWaitResult WaitFor(std::uint32_t Milliseconds);

private:
    std::mutex FMutex;
    std::condition_variable FCond;
    bool FManualReset;
    bool FSignaled;
};

// Unnamed, manual-reset, created not signalled.
class TVaWaitEvent : public TVaEvent {
public:
    TVaWaitEvent() : TVaEvent(true, false) {}
};

// Re-entrant like the critical sections the serial code was designed around.
class TVaCriticalSection {
public:
    void Enter() { FMutex.lock(); }
    void Leave() { FMutex.unlock(); }
    void Acquire() { Enter(); }
    void Release() { Leave(); }
    // For std::lock_guard.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex FMutex;
};

// Milliseconds of a steady clock as an unsigned 32-bit count that wraps after about 49.7 days.
std::uint32_t VaTickCount();

struct TVaTimeEvent {
    std::uint32_t StartTick = 0;
    std::uint32_t Duration = 0;
};

void InitTimer(TVaTimeEvent& T, std::uint32_t Milliseconds);
bool TimerExpired(const TVaTimeEvent& T);
// TimerExpired against a given tick count, so the wrap of the counter can be checked.
bool TimerExpiredAt(const TVaTimeEvent& T, std::uint32_t Now);

} // namespace serial
