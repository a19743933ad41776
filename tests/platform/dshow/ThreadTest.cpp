// CAMEvent, CAMThread and CCritSec semantics.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TestFilters.h"
#include "platform/dshow/AMThread.h"

using namespace dshowtest;

TEST(AMEvent, AutoResetWakesOneWaitAndManualStaysSet) {
    CAMEvent autoEv;
    EXPECT_FALSE(autoEv.Wait(10)); // timed wait gives up
    autoEv.Set();
    EXPECT_TRUE(autoEv.Check());
    EXPECT_FALSE(autoEv.Check()); // consumed
    CAMManualEvent manual;
    manual.Set();
    EXPECT_TRUE(manual.Wait(0));
    EXPECT_TRUE(manual.Wait(0));
    manual.Reset();
    EXPECT_FALSE(manual.Check());
}

TEST(AMEvent, SetFromAnotherThreadReleasesAnInfiniteWait) {
    Watchdog dog(30);
    CAMEvent ev;
    std::thread t([&] { ev.Set(); });
    EXPECT_TRUE(ev.Wait(INFINITE));
    t.join();
}

TEST(CritSec, IsRecursive) {
    CCritSec cs;
    CAutoLock a(&cs);
    CAutoLock b(&cs); // the same thread may take it again
    std::atomic<bool> other{true};
    std::thread t([&] { other = cs.TryLock(); });
    t.join();
    EXPECT_FALSE(other.load());
}

namespace {
// A worker that answers "add 1" requests and polls while "busy".
class Worker : public CAMThread {
public:
    enum : DWORD { kExit = 0, kAdd = 1, kBusy = 2 };
    ~Worker() override { Close(); }
    std::atomic<int> polls{0};

protected:
    DWORD ThreadProc() override {
        for (;;) {
            DWORD cmd = GetRequest();
            if (cmd == kExit) {
                Reply(0);
                return 0;
            }
            if (cmd == kBusy) {
                Reply(S_OK);
                DWORD next = 0;
                while (!CheckRequest(&next)) {
                    ++polls;
                    std::this_thread::yield();
                }
                EXPECT_EQ(next, DWORD(kAdd)); // still pending for GetRequest
                continue;
            }
            Reply(GetRequestParam() + 100);
        }
    }
};
} // namespace

TEST(AMThread, CallWorkerGetsTheWorkersReply) {
    Watchdog dog(30);
    Worker w;
    EXPECT_EQ(w.CallWorker(Worker::kAdd), DWORD(E_FAIL)); // no thread yet
    ASSERT_TRUE(w.Create());
    EXPECT_FALSE(w.Create());
    EXPECT_TRUE(w.ThreadExists());
    EXPECT_EQ(w.CallWorker(Worker::kAdd), 101u);
    EXPECT_EQ(w.CallWorker(Worker::kBusy), DWORD(S_OK));
    EXPECT_TRUE(WaitFor([&] { return w.polls.load() > 0; }));
    EXPECT_EQ(w.CallWorker(Worker::kAdd), 101u); // seen by CheckRequest, answered after GetRequest
    EXPECT_EQ(w.CallWorker(Worker::kExit), 0u);
    w.Close();
    EXPECT_FALSE(w.ThreadExists());
}

TEST(AMThread, CallersAreSerialised) {
    Watchdog dog(30);
    Worker w;
    ASSERT_TRUE(w.Create());
    std::atomic<int> ok{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i)
        callers.emplace_back([&] {
            for (int j = 0; j < 50; ++j) ok += w.CallWorker(Worker::kAdd) == 101u;
        });
    for (auto& t : callers) t.join();
    EXPECT_EQ(ok.load(), 200);
    w.CallWorker(Worker::kExit);
}
