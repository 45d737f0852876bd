#include "serial/sync.h"

#include <chrono>

namespace serial {

TVaEvent::TVaEvent(bool ManualReset, bool InitialState) : FManualReset(ManualReset), FSignaled(InitialState) {}

void TVaEvent::SetEvent() {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FSignaled = true;
    }
    FCond.notify_all();
}

void TVaEvent::ResetEvent() {
    std::lock_guard<std::mutex> lock(FMutex);
    FSignaled = false;
}

TVaWaitResult TVaEvent::WaitFor(std::uint32_t Milliseconds) {
    std::unique_lock<std::mutex> lock(FMutex);
    auto signalled = [this] { return FSignaled; };
    if (Milliseconds == INFINITE_WAIT)
        FCond.wait(lock, signalled);
    else if (!FCond.wait_for(lock, std::chrono::milliseconds(Milliseconds), signalled))
        return wrTimeout;
    if (!FManualReset)
        FSignaled = false;
    return wrSignaled;
}

std::uint32_t VaTickCount() {
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void InitTimer(TVaTimeEvent& T, std::uint32_t Milliseconds) {
    T.StartTick = VaTickCount();
    T.Duration = Milliseconds;
}

bool TimerExpired(const TVaTimeEvent& T) { return TimerExpiredAt(T, VaTickCount()); }

bool TimerExpiredAt(const TVaTimeEvent& T, std::uint32_t Now) {
    // Unsigned subtraction would give the wrapped distance exactly; the counted form is one tick shorter
    // across the wrap and is kept so that time-outs behave as the protocols were tuned for.
    const std::uint32_t elapsed = Now >= T.StartTick ? Now - T.StartTick : (0xFFFFFFFFu - T.StartTick) + Now;
    return elapsed > T.Duration;
}

} // namespace serial
