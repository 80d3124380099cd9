// The counts the long-session benchmark judges the program by, read from
// /proc for this very process: descriptors and threads opened here show up
// one for one and are gone again once closed, and memory touched here shows
// up in the footprint that counts each page once.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support/proc_memory.h"
#include "tests/support/wait_for.h"

namespace {

TEST(ProcCounts, DescriptorsOpenedAndClosedAreCountedOneForOne) {
    const pid_t self = getpid();
    const int before = vorta_test::OpenDescriptors(self);
    ASSERT_GT(before, 0);
    for (int pipes : {1, 4, 16}) {
        SCOPED_TRACE(pipes);
        std::vector<int> fds(2 * pipes);
        for (int i = 0; i < pipes; ++i) ASSERT_EQ(pipe(&fds[2 * i]), 0);
        EXPECT_EQ(vorta_test::OpenDescriptors(self), before + 2 * pipes);
        for (int fd : fds) close(fd);
        EXPECT_EQ(vorta_test::OpenDescriptors(self), before);
    }
}

TEST(ProcCounts, ThreadsRunningAndEndedAreCounted) {
    const pid_t self = getpid();
    const int before = vorta_test::Threads(self);
    ASSERT_GE(before, 1);
    for (int n : {1, 3, 8}) {
        SCOPED_TRACE(n);
        std::atomic<bool> stop{false};
        std::atomic<int> started{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < n; ++i)
            threads.emplace_back([&] {
                ++started;
                while (!stop) std::this_thread::yield();
            });
        ASSERT_TRUE(vorta_test::WaitFor([&] { return started == n; }, 5000));
        EXPECT_EQ(vorta_test::Threads(self), before + n);
        stop = true;
        for (auto& t : threads) t.join();
        EXPECT_EQ(vorta_test::Threads(self), before);
    }
}

TEST(ProcCounts, AGoneProcessHasNoCounts) {
    EXPECT_EQ(vorta_test::OpenDescriptors(-1), -1);
    EXPECT_EQ(vorta_test::Threads(-1), -1);
}

TEST(ProcCounts, TouchedMemoryIsInTheFootprint) {
    const std::vector<pid_t> self{getpid()};
    const long before = vorta_test::FootprintKb(self);
    if (before < 0) GTEST_SKIP() << "page frame numbers need a privileged reader";
    constexpr size_t kBytes = 32u << 20;
    std::vector<char> block(kBytes);
    std::memset(block.data(), 1, block.size());  // every page present
    const long after = vorta_test::FootprintKb(self);
    EXPECT_GE(after - before, static_cast<long>(kBytes / 1024) * 9 / 10);
    EXPECT_LE(after - before, static_cast<long>(kBytes / 1024) * 12 / 10);
    EXPECT_EQ(block[kBytes - 1], 1);
}

}  // namespace
