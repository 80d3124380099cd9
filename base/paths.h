// Where the program finds its pages and keeps its files.
#pragma once

#include <cstdint>
#include <string>

// Folder of the running program (from /proc/self/exe), without a trailing "/".
// VORTA_PROGRAM_DIR overrides it (tests point it at the build's runtime folder).
std::string ProgramDir();

// program_dir + "/" + language + "/".
std::string ComputePageDir(const std::string& program_dir, const std::string& language);

// Recomputes AppState.page_dir from ProgramDir() and AppState.language.
void UpdatePageDir();

// AppState.page_dir followed by `file`.
std::string PagePath(const std::string& file);

// The user's documents folder followed by "VORTA PC TOOL", created on demand;
// no trailing "/". Empty when no documents folder can be found or made.
std::string DataFolder();

// Folder of the settings and configuration files: the XDG config folder
// followed by "VORTA PC TOOL", created on demand (mode 0700).
std::string ConfigFolder();

// Largest file ReadWholeFile takes unless told otherwise.
constexpr std::uint64_t kMaxWholeFileBytes = std::uint64_t(64) << 20;
// Largest extra CA bundle handed to the TLS layers.
constexpr std::uint64_t kMaxCaFileBytes = std::uint64_t(16) << 20;

// True when `path` names a regular file this process may read, of at most
// `max_bytes`. Anything else (a FIFO, which would block its reader; a device,
// which might never end; a folder) is refused before it is opened.
bool IsReadableRegularFile(const std::string& path, std::uint64_t max_bytes);

// An extra CA bundle as configured: a readable regular file of at most
// kMaxCaFileBytes. Every TLS layer checks with this before using one.
bool UsableCaFile(const std::string& path);

// The whole file as bytes; empty when it cannot be opened or read, is not a
// regular file, or holds more than `max_bytes` (checked before any memory is
// taken, and again while reading a file that grows).
std::string ReadWholeFile(const std::string& path, std::uint64_t max_bytes = kMaxWholeFileBytes);
