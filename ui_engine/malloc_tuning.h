// The C allocator's settings for the program's processes, in one place for
// the engine and for the memory benchmark's engine floor, which must run its
// web process as the program does.
//
// Over a long session the allocator of the UI process and of the web
// processes (fonts, drawing, the engine's GLib side) kept freed memory it
// could not give back: blocks of 128 kB and more (a chart's document, a
// page's script) moved into the heap once the allocator had raised its
// threshold for mapping them apart, and every thread that allocated got an
// arena of its own. With the threshold fixed and two arenas, a 392-step
// session grew by 7-10 MB where it grew by 16-19 MB (bench/app/soak_bench),
// for about 2 MB more with a dive open (bench/app/dive_memory_bench).
#pragma once

#include <malloc.h>

#include <cstdlib>
#include <string>

namespace ui {

// Sets this process's allocator (before its threads start, so that they
// share the arenas) and, through the environment, that of the processes it
// starts next, unless the user set tunables of their own.
inline void TuneMalloc() {
    constexpr int kArenas = 2;
    constexpr int kMapAbove = 128 * 1024;  // bytes
    mallopt(M_ARENA_MAX, kArenas);
    mallopt(M_MMAP_THRESHOLD, kMapAbove);
    const std::string tunables = "glibc.malloc.arena_max=" + std::to_string(kArenas) +
                                 ":glibc.malloc.mmap_threshold=" + std::to_string(kMapAbove);
    setenv("GLIBC_TUNABLES", tunables.c_str(), 0);
}

}  // namespace ui
