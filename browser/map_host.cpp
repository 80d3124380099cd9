#include "browser/map_host.h"

// Placeholder until the engine-side host lands: nothing is shown and every
// script call is skipped, as for a page that is still loading.
struct MapHost::Impl {};

MapHost::MapHost() : impl_(std::make_unique<Impl>()) {}
MapHost::~MapHost() = default;

bool MapHost::Attach(WindowHandle, const std::string&, const std::string&) { return false; }
void MapHost::Navigate(const std::string&) {}
void MapHost::Detach() {}
bool MapHost::ready() const { return false; }
void MapHost::InvokeScript(const std::string&, const std::vector<std::string>&) {}
