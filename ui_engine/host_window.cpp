#include "ui_engine/host_window.h"

namespace ui {
struct HostWindow::Impl {};
HostWindow::HostWindow(const WindowOptions& o) : kind_(o.kind) {}
HostWindow::~HostWindow() = default;
bool HostWindow::LoadPage(const std::string&) { return false; }
bool HostWindow::LoadUri(const std::string&) { return false; }
std::string HostWindow::page_file() const { return {}; }
void HostWindow::Show() {}
void HostWindow::Hide() {}
bool HostWindow::IsVisible() const { return false; }
void HostWindow::Resize(int, int) {}
void HostWindow::Center() {}
void HostWindow::SetTitle(const std::string&) {}
int HostWindow::RunModal() { return -1; }
void HostWindow::EndDialog(int) {}
void HostWindow::SetDragBand(int p) { drag_band_ = p; }
void HostWindow::Close() {}
void HostWindow::PostMessage(uint32_t, intptr_t, intptr_t) {}
void HostWindow::FlushWrites() {}
std::string HostWindow::Evaluate(const std::string&) { return {}; }
bool HostWindow::SnapshotPng(const std::string&) { return false; }
GtkWidget* HostWindow::gtk_window() const { return nullptr; }
WebKitWebView* HostWindow::web_view() const { return nullptr; }
}  // namespace ui
