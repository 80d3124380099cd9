#pragma once

#include <string>

// Writes `bytes` to `path`: into a new file beside it (beside a link's
// target), then renamed over it, so a failed or interrupted write never
// leaves a cut file, and a replaced file keeps its permissions. Refuses to
// replace anything but a regular file. False on any failure, with no file
// left behind. Not synced to the disk: a flush would cost more than the
// whole write of an exported file, and ext4 and btrfs write a file's data
// before a rename that replaces another file.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
