// A map page that records the script calls it receives, for controller tests.
#pragma once

#include <string>
#include <vector>

#include "browser/map_script.h"

namespace browser_test {

struct RecordingMapScript : vorta_browser::MapScriptSink {
    std::vector<vorta_browser::MapScriptCall> calls;

    void InvokeScript(const std::string& function, const std::vector<std::string>& args) override {
        calls.push_back({function, args});
    }
    std::vector<std::string> Functions() const {
        std::vector<std::string> names;
        for (const auto& c : calls) names.push_back(c.function);
        return names;
    }
};

}  // namespace browser_test
