// Shared set-up of the GUI tests: the engine serving tests/ui_engine/pages,
// and a handler recording behaviour events as "code:id".
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui_engine/host_window.h"
#include "ui_engine/ui_engine.h"

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ui::InitEngine(UI_TEST_PAGES); }
    void SetUp() override { ASSERT_TRUE(ui::EngineReady()) << "the engine did not start: no display?"; }
    static std::string Page(const std::string& name) { return std::string(UI_TEST_PAGES) + "/ENG/" + name; }
};

struct EventLog : ui::EventHandler {
    std::vector<std::string> entries;
    std::vector<ui::BehaviorEvent> events;
    void OnBehaviorEvent(ui::HostWindow&, const ui::BehaviorEvent& ev) override {
        std::string e = std::to_string(ev.cmd) + ":" + ev.target_id;
        if (ev.cmd == ui::SELECT_SELECTION_CHANGED) e += "=" + ev.value;
        entries.push_back(e);
        events.push_back(ev);
    }
    bool WaitCount(size_t n, int timeout_ms = 5000) {
        return ui::RunLoopUntil([&] { return entries.size() >= n; }, timeout_ms);
    }
};

// Lets queued work run for a moment without waiting on a condition.
inline void Settle(int ms = 100) {
    bool never = false;
    ui::RunLoopUntil([&] { return never; }, ms);
}
