// The desktop's file dialog (the GTK file chooser) for choosing one file to
// open or to save.
//
//   ui::FileDialogOptions o;
//   o.save = true;
//   o.filters = {{"Dive Site Files (*.ds)", "*.ds"}, {"All Files (*.*)", "*.*"}};
//   o.default_extension = "ds";
//   std::string path = ui::RunFileDialog(o);   // "" when cancelled
//
// The automation channel answers an open file dialog like a user
// ("file_dialog", ui_engine/AUTOMATION.md). UI thread only.
#pragma once

#include <json/value.h>

#include <functional>
#include <string>
#include <vector>

#include "ui_engine/ui_engine.h"

namespace ui {

struct FileFilter {
    std::string name;     // shown, e.g. "Dive Site Files (*.ds)"
    std::string pattern;  // e.g. "*.ds"; "*.*" means every file
};

struct FileDialogOptions {
    bool save = false;  // a save dialog (asks before replacing a file), else an open dialog
    std::string title;
    std::vector<FileFilter> filters;  // the first one is selected
    // Without the dot, e.g. "ds": added to a name saved without an extension,
    // before the dialog asks about replacing an existing file of that name.
    std::string default_extension;
    WindowId parent = 0;  // the window the dialog belongs to; 0 for the active one
};

// Shows the dialog modally (a nested main loop: page events, posted work and
// automation requests keep being delivered) and returns the chosen file's
// path, or "" when the user cancelled or closed it. "" at once without a
// running engine.
std::string RunFileDialog(const FileDialogOptions& options);

// True while a file dialog is open.
bool FileDialogOpen();

namespace detail {
// The automation channel's "file_dialog" command. Calls `reply` exactly once.
void FileDialogCommand(const Json::Value& request, const std::function<void(const Json::Value&)>& reply);
}  // namespace detail

}  // namespace ui
