#include "serial/main_thread.h"

#include <chrono>
#include <cstdio>

namespace serial {

namespace {
IVaMainThread* gHost = nullptr;
std::mutex gHostMutex;
} // namespace

void SetMainThreadHost(IVaMainThread* Host) {
    std::lock_guard<std::mutex> lock(gHostMutex);
    gHost = Host;
}

IVaMainThread& MainThreadHost() {
    {
        std::lock_guard<std::mutex> lock(gHostMutex);
        if (gHost != nullptr)
            return *gHost;
    }
    return DefaultEventQueue();
}

TVaEventQueue& DefaultEventQueue() {
    static TVaEventQueue queue;
    return queue;
}

// Shared between the waiting thread and the calls it queued, so a call that runs after Release (or after the
// synchroniser is gone) finds only this and does nothing.
struct TVaSynchronizer::State {
    std::mutex Mutex;
    std::condition_variable Cond;
    bool Released = false;
    std::uint64_t Finished = 0; // sequence number of the last call that has run
};

TVaSynchronizer::TVaSynchronizer(IVaMainThread& Host) : FHost(Host), FState(std::make_shared<State>()) {}

TVaSynchronizer::~TVaSynchronizer() { Release(); }

bool TVaSynchronizer::Run(std::function<void()> Call) {
    if (Released())
        return false;
    if (FHost.IsMainThread()) {
        try {
            Call();
        } catch (...) {
            FHost.HandleException(std::current_exception());
        }
        return true;
    }
    static std::atomic<std::uint64_t> sequence{0};
    const std::uint64_t id = ++sequence;
    std::shared_ptr<State> state = FState;
    IVaMainThread* host = &FHost;
    FHost.Post([state, host, id, call = std::move(Call)] {
        {
            std::lock_guard<std::mutex> lock(state->Mutex);
            if (state->Released)
                return;
        }
        try {
            call();
        } catch (...) {
            host->HandleException(std::current_exception());
        }
        {
            std::lock_guard<std::mutex> lock(state->Mutex);
            state->Finished = id;
        }
        state->Cond.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->Mutex);
    state->Cond.wait(lock, [&] { return state->Released || state->Finished == id; });
    return state->Finished == id;
}

void TVaSynchronizer::Release() {
    {
        std::lock_guard<std::mutex> lock(FState->Mutex);
        FState->Released = true;
    }
    FState->Cond.notify_all();
}

bool TVaSynchronizer::Released() const {
    std::lock_guard<std::mutex> lock(FState->Mutex);
    return FState->Released;
}

TVaEventQueue::TVaEventQueue() : FMainThread(std::this_thread::get_id()) {}

TVaEventQueue::~TVaEventQueue() = default;

void TVaEventQueue::Post(std::function<void()> Call) {
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FCalls.push_back(std::move(Call));
    }
    FCond.notify_all();
}

void TVaEventQueue::HandleException(std::exception_ptr Error) {
    std::string text = "unknown exception";
    try {
        std::rethrow_exception(Error);
    } catch (const std::exception& e) {
        text = e.what();
    } catch (...) {
    }
    {
        std::lock_guard<std::mutex> lock(FMutex);
        FLastExceptionText = text;
    }
    if (OnException)
        OnException(Error);
    else
        std::fprintf(stderr, "%s\n", text.c_str());
}

int TVaEventQueue::ProcessEvents(int MaxWaitMs) {
    int ran = 0;
    std::unique_lock<std::mutex> lock(FMutex);
    if (FCalls.empty() && MaxWaitMs > 0)
        FCond.wait_for(lock, std::chrono::milliseconds(MaxWaitMs), [this] { return !FCalls.empty(); });
    // Only the calls queued so far: a thread that queues its next call as soon as one has run cannot keep
    // this loop going for ever.
    std::size_t budget = FCalls.size();
    while (budget-- > 0 && !FCalls.empty()) {
        std::function<void()> call = std::move(FCalls.front());
        FCalls.pop_front();
        lock.unlock();
        call();
        ++ran;
        lock.lock();
    }
    return ran;
}

std::size_t TVaEventQueue::Pending() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FCalls.size();
}

std::string TVaEventQueue::LastExceptionText() const {
    std::lock_guard<std::mutex> lock(FMutex);
    return FLastExceptionText;
}

} // namespace serial
