// The page runtime: the script injected at document start into every frame
// that shows one of the program's own pages. Its source is page_runtime.js,
// compiled in by the build (see CMakeLists.txt here).
#include "ui_engine/engine_internal.h"

namespace ui {
namespace detail {

const char* PageRuntimeScript() {
    static const char kScript[] =
#include "ui_engine/page_runtime.js.inc"
        ;
    return kScript;
}

}  // namespace detail
}  // namespace ui
