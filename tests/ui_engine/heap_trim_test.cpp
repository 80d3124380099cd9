// The UI process gives its freed heap back once it has been quiet: memory a
// page load or a dive freed (and malloc kept) leaves the process's resident
// set, and a burst of loads trims once, after the last.
#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

#include "tests/support/proc_memory.h"
#include "tests/support/sanitizer.h"
#include "ui_engine/engine_internal.h"

namespace {

long ResidentMb() {
    return vorta_test::ResidentKb(getpid()) / 1024;
}

// Runs the default main loop until no trim is pending (or 10 s pass).
bool RunUntilTrimmed() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ui::detail::PendingHeapTrims() > 0 && std::chrono::steady_clock::now() < deadline)
        g_main_context_iteration(nullptr, TRUE);
    return ui::detail::PendingHeapTrims() == 0;
}

TEST(HeapTrim, FreedHeapLeavesTheProcessOnceQuiet) {
    if (vorta_test::kAddressSanitizer) GTEST_SKIP() << "the address sanitizer's allocator is not trimmed by malloc";
    // 64 MB of small blocks, all freed but the last, which holds the heap's
    // top: malloc keeps the freed pages until it is told to trim.
    constexpr size_t kBlocks = 256 * 1024, kSize = 256;
    std::vector<char*> blocks(kBlocks);
    for (char*& b : blocks) {
        b = static_cast<char*>(std::malloc(kSize));
        ASSERT_NE(b, nullptr);
        for (size_t i = 0; i < kSize; i += 64) b[i] = 1;  // touched: resident
    }
    for (size_t i = 0; i + 1 < kBlocks; ++i) std::free(blocks[i]);
    const long before = ResidentMb();

    // A burst of calls (pages loading one after another) leaves one trim
    // pending, made after the last.
    for (int i = 0; i < 5; ++i) ui::detail::TrimHeapWhenQuiet();
    EXPECT_EQ(ui::detail::PendingHeapTrims(), 1);
    ASSERT_TRUE(RunUntilTrimmed());
    const long after = ResidentMb();
    EXPECT_GE(before - after, 48) << "resident " << before << " MB before, " << after << " MB after";
    std::free(blocks.back());
}

}  // namespace
