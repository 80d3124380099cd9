#include "ui_engine/ui_engine.h"

namespace ui {
bool InitEngine(const std::string&) { return false; }
bool EngineReady() { return false; }
const std::string& ServedDir() { static std::string s; return s; }
std::string PageUrl(const std::string& p) { return "file://" + p; }
bool IsUiThread() { return false; }
void PostToUi(std::function<void()>) {}
void PostWindowMessage(WindowId, uint32_t, intptr_t, intptr_t) {}
bool RunLoopUntil(const std::function<bool()>& done, int) { return done(); }
void ComputeDpiScale() {}
std::vector<WindowInfo> ListWindows() { return {}; }
HostWindow* FindWindow(WindowId) { return nullptr; }
HostWindow* ActiveWindow() { return nullptr; }
}  // namespace ui
