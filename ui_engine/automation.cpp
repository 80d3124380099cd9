#include "ui_engine/automation.h"

namespace ui {
bool StartAutomation(const std::string&) { return false; }
bool StartAutomationFromEnv() { return false; }
void StopAutomation() {}
}  // namespace ui
