#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Error.h"
#include "platform/Event.h"
#include "platform/Thread.h"

using namespace plat;

TEST(Event, ResetModesAndTimeouts) {
    EventHandle manual = CreateEvent(true, false);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT_CODE);
    EXPECT_EQ(WaitForSingleObject(manual, 20), WAIT_TIMEOUT_CODE);
    ASSERT_TRUE(SetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0_CODE);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0_CODE);  // stays signalled
    ASSERT_TRUE(ResetEvent(manual));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_TIMEOUT_CODE);

    EventHandle automatic = CreateEvent(false, true);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0_CODE);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_TIMEOUT_CODE);  // consumed
}

TEST(Event, SetWakesWaiterOnAnotherThread) {
    EventHandle ev = CreateEvent(false, false);
    std::atomic<uint32_t> result{1234};
    std::thread waiter([&, copy = ev] { result = WaitForSingleObject(copy, INFINITE_WAIT); });
    ASSERT_TRUE(SetEvent(ev));
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0_CODE);
}

TEST(Event, CloseFailsWaitersAndLaterCalls) {
    EventHandle ev = CreateEvent(true, false);
    EventHandle copy = ev;
    std::atomic<uint32_t> result{1234};
    std::atomic<bool> started{false};
    std::thread waiter([&, mine = ev] {
        started = true;
        result = WaitForSingleObject(mine, INFINITE_WAIT);
    });
    while (!started) {
        std::this_thread::yield();
    }
    CloseEvent(ev);
    waiter.join();
    EXPECT_EQ(result, WAIT_FAILED_CODE);
    EXPECT_FALSE(ev);
    EXPECT_EQ(WaitForSingleObject(copy, INFINITE_WAIT), WAIT_FAILED_CODE);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE_CODE);
    EXPECT_FALSE(SetEvent(copy));
    EXPECT_EQ(WaitForSingleObject(EventHandle(), INFINITE_WAIT), WAIT_FAILED_CODE);
    EXPECT_FALSE(SetEvent(nullptr));
}

TEST(Thread, SuspendedStartAndSuspendPoint) {
    std::atomic<int> stage{0};
    EventHandle step = CreateEvent(false, false);
    uint32_t id = 0;
    ThreadHandle t = CreateThread(
        [&] {
            stage = 1;
            WaitForSingleObject(step, INFINITE_WAIT);
            SuspendPoint();  // blocks here while suspended
            stage = 2;
            return 7u;
        },
        true, &id);
    ASSERT_TRUE(t);
    EXPECT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_FALSE(WaitForThread(t, 30));
    EXPECT_EQ(stage, 0);  // created suspended: nothing ran

    ResumeThread(t);
    while (stage != 1) {
        std::this_thread::yield();
    }
    SuspendThread(t);
    SetEvent(step);
    EXPECT_FALSE(WaitForThread(t, 30));
    EXPECT_EQ(stage, 1);
    uint32_t code = 0;
    EXPECT_FALSE(GetThreadExitCode(t, code));

    ResumeThread(t);
    ASSERT_TRUE(WaitForThread(t, INFINITE_WAIT));
    EXPECT_EQ(stage, 2);
    ASSERT_TRUE(GetThreadExitCode(t, code));
    EXPECT_EQ(code, 7u);
}

TEST(Thread, CriticalSectionIsRecursive) {
    // Re-entering on the owning thread must not deadlock.
    CriticalSection cs;
    int counter = 0;
    {
        CriticalSectionLock outer(cs);
        CriticalSectionLock inner(cs);
        ++counter;
    }
    std::thread other([&] {
        CriticalSectionLock lock(cs);
        ++counter;
    });
    other.join();
    EXPECT_EQ(counter, 2);
}
