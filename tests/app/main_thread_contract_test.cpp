// The serial layer hands calls to the main thread through one of two hosts: the Qt-free queue of zirezid-cli and
// the tests, and the shell's queued calls. Both keep one contract, checked here by the same cases.
#include "app/qt_hosts.h"
#include "serial/main_thread.h"
#include "ui_helpers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>

namespace zirezid::test {
namespace {

// One host with its own event processing and a view of what its exception handler was given.
class Harness {
public:
    virtual ~Harness() = default;
    virtual serial::IVaMainThread& host() = 0;
    // One event processing of the main thread, waiting at most maxWaitMs when nothing is pending.
    virtual void pump(int maxWaitMs) = 0;
    virtual QStringList handled() const = 0;

    // Processes events until done() holds or five seconds pass.
    template <class Done> bool pumpUntil(Done done) {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < 5000)
            pump(10);
        return done();
    }
};

class QueueHarness : public Harness {
public:
    QueueHarness() {
        queue_.OnException = [this](std::exception_ptr e) {
            try {
                std::rethrow_exception(e);
            } catch (const std::exception& x) {
                handled_ << QString::fromStdString(x.what());
            }
        };
    }
    serial::IVaMainThread& host() override { return queue_; }
    void pump(int maxWaitMs) override { queue_.ProcessEvents(maxWaitMs); }
    QStringList handled() const override { return handled_; }

private:
    serial::TVaEventQueue queue_;
    QStringList handled_;
};

class QtHarness : public Harness {
public:
    serial::IVaMainThread& host() override { return host_; }
    void pump(int maxWaitMs) override {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (maxWaitMs > 0)
            QThread::msleep(1);
    }
    // The shell shows an escaped exception in a message box; the script closes it and keeps its text.
    QStringList handled() const override { return boxes_.texts; }

private:
    QtMainThread host_;
    ModalScript boxes_;
};

struct HostKind {
    const char* name;
    std::unique_ptr<Harness> (*make)();
};

void PrintTo(const HostKind& kind, std::ostream* os) { *os << kind.name; }

class MainThreadContract : public ::testing::TestWithParam<HostKind> {
protected:
    std::unique_ptr<Harness> h = GetParam().make();
};

TEST_P(MainThreadContract, PostedCallsRunOnTheMainThreadInTheirOrderAndNeverInThePoster) {
    std::vector<int> ran;
    std::vector<bool> onMain;
    std::atomic<bool> posterIsMain{true};
    std::atomic<int> runBeforeReturn{0};
    std::thread poster([&] {
        posterIsMain = h->host().IsMainThread();
        for (int i = 0; i < 3; ++i)
            h->host().Post([&, i] {
                ran.push_back(i);
                onMain.push_back(h->host().IsMainThread());
            });
        runBeforeReturn = static_cast<int>(ran.size());
    });
    poster.join();
    EXPECT_TRUE(h->host().IsMainThread());
    EXPECT_FALSE(posterIsMain);
    EXPECT_EQ(runBeforeReturn, 0) << "Post must not run the call in the posting thread";
    EXPECT_TRUE(ran.empty()) << "nothing runs before the main thread processes events";
    ASSERT_TRUE(h->pumpUntil([&] { return ran.size() == 3; }));
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(onMain, (std::vector<bool>{true, true, true}));
}

TEST_P(MainThreadContract, NestedEventProcessingDeliversTheNextCalls) {
    bool innerRan = false;
    bool innerRanInsideOuter = false;
    bool outerDone = false;
    h->host().Post([&] {
        // Posted from the main thread itself: still queued, not run at once.
        h->host().Post([&] { innerRan = true; });
        EXPECT_FALSE(innerRan);
        innerRanInsideOuter = h->pumpUntil([&] { return innerRan; });
        outerDone = true;
    });
    ASSERT_TRUE(h->pumpUntil([&] { return outerDone; }));
    EXPECT_TRUE(innerRanInsideOuter);
}

TEST_P(MainThreadContract, TheSynchronizerWaitsForItsCallAndReleaseFreesAWaiterForGood) {
    serial::TVaSynchronizer sync(h->host());
    std::atomic<bool> ranOnMain{false};
    std::atomic<int> first{-1};
    std::thread worker([&] { first = sync.Run([&] { ranOnMain = h->host().IsMainThread(); }) ? 1 : 0; });
    ASSERT_TRUE(h->pumpUntil([&] { return first != -1; }));
    worker.join();
    EXPECT_EQ(first, 1);
    EXPECT_TRUE(ranOnMain);

    // A waiter whose call the main thread never gets to is let go by Release, and the call stays undone.
    std::atomic<bool> lateRan{false};
    std::atomic<int> second{-1};
    std::thread waiter([&] { second = sync.Run([&] { lateRan = true; }) ? 1 : 0; });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    sync.Release();
    waiter.join();
    EXPECT_EQ(second, 0);
    for (int i = 0; i < 20; ++i)
        h->pump(5); // whatever was still queued has its chance
    EXPECT_FALSE(lateRan);
}

TEST_P(MainThreadContract, AnExceptionACallLetsEscapeReachesTheHandlerAndLaterCallsStillRun) {
    serial::TVaSynchronizer sync(h->host());
    std::atomic<int> result{-1};
    std::thread worker([&] { result = sync.Run([] { throw std::runtime_error("порт сломан"); }) ? 1 : 0; });
    ASSERT_TRUE(h->pumpUntil([&] { return result != -1 && !h->handled().isEmpty(); }));
    worker.join();
    EXPECT_EQ(result, 1) << "the call ran; its exception is the handler's";
    EXPECT_EQ(h->handled(), QStringList{QStringLiteral("порт сломан")});
    bool next = false;
    h->host().Post([&] { next = true; });
    EXPECT_TRUE(h->pumpUntil([&] { return next; }));
}

INSTANTIATE_TEST_SUITE_P(
    Hosts, MainThreadContract,
    ::testing::Values(HostKind{"EventQueue",
                               []() -> std::unique_ptr<Harness> { return std::make_unique<QueueHarness>(); }},
                      HostKind{"Qt", []() -> std::unique_ptr<Harness> { return std::make_unique<QtHarness>(); }}),
    [](const ::testing::TestParamInfo<HostKind>& kind) { return std::string(kind.param.name); });

} // namespace
} // namespace zirezid::test
