// Where the program finds its pages and keeps its files.
#pragma once

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

// The whole file as bytes; empty when it cannot be opened or read.
std::string ReadWholeFile(const std::string& path);
