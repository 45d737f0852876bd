// How the serial threads get their notifications run on the main (user-interface) thread.
//
// The core only needs a host that can queue a call for the main thread; the waiting is done here, in
// TVaSynchronizer, so that closing a port can release a thread that waits for a hand-over the main thread
// will never run. The Qt shell implements Post with a queued call to the application object; tests and the
// command-line tool use TVaEventQueue, drained by their own event-processing call.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace serial {

class IVaMainThread {
public:
    virtual ~IVaMainThread() = default;
    // Queues Call to run on the main thread inside its next event processing, nested event processing
    // included. Called from any thread; must not block and must not run Call in the calling thread.
    virtual void Post(std::function<void()> Call) = 0;
    // Whether the calling thread is the main thread.
    virtual bool IsMainThread() const = 0;
    // The application's exception handler, called on the main thread for an exception a handler let escape.
    virtual void HandleException(std::exception_ptr Error) = 0;
};

// Installs the process-wide host (nullptr restores the built-in queue). Ports take the host current at Open.
void SetMainThreadHost(IVaMainThread* Host);
IVaMainThread& MainThreadHost();

// Hands one call after another from one background thread to the main thread and waits for each to have run.
// Release (from any thread) makes the waiting thread return at once and turns every call still queued into a
// no-op, so a call that runs late never touches the object that queued it.
class TVaSynchronizer {
public:
    explicit TVaSynchronizer(IVaMainThread& Host);
    ~TVaSynchronizer();
    TVaSynchronizer(const TVaSynchronizer&) = delete;
    TVaSynchronizer& operator=(const TVaSynchronizer&) = delete;

    // Runs Call on the main thread (at once when already there) and returns True once it has run; False when
    // released first. An exception from Call goes to the host's exception handler.
    bool Run(std::function<void()> Call);
    void Release();
    bool Released() const;

private:
    struct State;
    IVaMainThread& FHost;
    std::shared_ptr<State> FState;
};

// The Qt-free host: a queue of calls drained by ProcessEvents on the thread that created it. Close the ports
// that use it before destroying it (their threads wait on it while open).
class TVaEventQueue : public IVaMainThread {
public:
    TVaEventQueue();
    ~TVaEventQueue() override;

    void Post(std::function<void()> Call) override;
    bool IsMainThread() const override { return std::this_thread::get_id() == FMainThread; }
    void HandleException(std::exception_ptr Error) override;

    // Runs every queued call. When none is queued, waits at most MaxWaitMs for one (0: does not wait).
    // Returns the number of calls run. Re-entrant: a call may itself call ProcessEvents.
    int ProcessEvents(int MaxWaitMs);
    // Calls queued and not yet run.
    std::size_t Pending() const;

    // Replaces the default handling of escaped exceptions (written to stderr) for tests and tools.
    std::function<void(std::exception_ptr)> OnException;
    // Message of the last exception handled, for tests.
    std::string LastExceptionText() const;

private:
    std::thread::id FMainThread;
    mutable std::mutex FMutex;
    std::condition_variable FCond;
    std::deque<std::function<void()>> FCalls;
    std::string FLastExceptionText;
};

// The built-in host used while none is installed; it belongs to the thread that first asks for it.
TVaEventQueue& DefaultEventQueue();

} // namespace serial
