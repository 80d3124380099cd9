#include "ui_engine/file_dialog.h"

#include <gtk/gtk.h>

#include <memory>

#include "base/json_safe.h"
#include "ui_engine/automation_request.h"
#include "ui_engine/host_window.h"

namespace ui {

namespace {

// The dialog that runs now (one at a time; a second one nests inside the
// first's loop and takes its place until it ends).
struct OpenDialog {
    GtkWidget* dialog = nullptr;
    GtkWidget* accept = nullptr;
    FileDialogOptions options;
};
std::vector<OpenDialog*> g_open;

OpenDialog* Current() {
    return g_open.empty() ? nullptr : g_open.back();
}

// GTK's own texts, in the desktop's language.
const char* GtkText(const char* text) {
    return g_dgettext("gtk30", text);
}

// A name typed without an extension gets the default one, so that the
// question about replacing a file asks about the file really written.
void AddDefaultExtension(GtkButton*, gpointer data) {
    auto* open = static_cast<OpenDialog*>(data);
    if (!open->options.save || open->options.default_extension.empty()) return;
    gchar* name = gtk_file_chooser_get_current_name(GTK_FILE_CHOOSER(open->dialog));
    if (name == nullptr) return;
    std::string typed = name;
    g_free(name);
    const size_t slash = typed.rfind('/');
    const std::string base = slash == std::string::npos ? typed : typed.substr(slash + 1);
    if (base.empty() || base.find('.') != std::string::npos) return;
    typed += "." + open->options.default_extension;
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(open->dialog), typed.c_str());
}

// The question "replace the file?" that the dialog shows over itself.
GtkWidget* ReplaceQuestion(const OpenDialog& open) {
    GtkWidget* found = nullptr;
    GList* all = gtk_window_list_toplevels();
    for (GList* i = all; i != nullptr; i = i->next) {
        GtkWidget* w = GTK_WIDGET(i->data);
        if (GTK_IS_MESSAGE_DIALOG(w) && gtk_widget_get_visible(w) &&
            gtk_window_get_transient_for(GTK_WINDOW(w)) == GTK_WINDOW(open.dialog))
            found = w;
    }
    g_list_free(all);
    return found;
}

Json::Value DialogJson(const OpenDialog& open) {
    Json::Value d;
    d["save"] = open.options.save;
    d["title"] = open.options.title;
    d["filters"] = Json::Value(Json::arrayValue);
    for (const FileFilter& f : open.options.filters) d["filters"].append(f.name);
    GtkFileFilter* current = gtk_file_chooser_get_filter(GTK_FILE_CHOOSER(open.dialog));
    const char* current_name = current ? gtk_file_filter_get_name(current) : nullptr;
    d["filter"] = current_name ? current_name : "";
    d["extension"] = open.options.default_extension;
    d["overwrite_question"] = ReplaceQuestion(open) != nullptr;
    return d;
}

std::string ChosenPath(GtkWidget* dialog) {
    gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    std::string path = file ? file : "";
    g_free(file);
    return path;
}

void Click(GtkWidget* dialog, int response) {
    GtkWidget* button = gtk_dialog_get_widget_for_response(GTK_DIALOG(dialog), response);
    if (button != nullptr) gtk_button_clicked(GTK_BUTTON(button));
    else gtk_dialog_response(GTK_DIALOG(dialog), response);
}

// One "file_dialog" request, polled until the dialog (and what the request
// answers) is there or the time is up.
struct Command {
    Json::Value request;
    std::function<void(const Json::Value&)> reply;
    gint64 deadline = 0;
    bool path_given = false;  // the path has been put into the dialog
    OpenDialog* dialog = nullptr;
};

Json::Value Fail(const std::string& error) {
    Json::Value a;
    a["ok"] = false;
    a["error"] = error;
    return a;
}

Json::Value Ok(const OpenDialog& open) {
    Json::Value a;
    a["ok"] = true;
    a["dialog"] = DialogJson(open);
    return a;
}

// One poll; true when the command is finished (it has replied).
bool Step(Command& cmd) {
    OpenDialog* open = Current();
    const bool late = g_get_monotonic_time() >= cmd.deadline;
    if (open == nullptr || (cmd.dialog != nullptr && open != cmd.dialog)) {
        if (!late && cmd.dialog == nullptr) return false;
        cmd.reply(Fail(cmd.dialog ? "the file dialog closed" : "no file dialog"));
        return true;
    }
    const Json::Value& req = cmd.request;
    if (json_safe::Member(req, "replace").isBool()) {
        GtkWidget* question = ReplaceQuestion(*open);
        if (question == nullptr) {
            if (!late) return false;
            cmd.reply(Fail("no question"));
            return true;
        }
        cmd.reply(Ok(*open));
        // Answered first: the dialog may end now and the program go on.
        Click(question, json_safe::Member(req, "replace").asBool() ? GTK_RESPONSE_ACCEPT : GTK_RESPONSE_CANCEL);
        return true;
    }
    if (json_safe::Member(req, "cancel").isBool() && json_safe::Member(req, "cancel").asBool()) {
        cmd.reply(Ok(*open));
        Click(open->dialog, GTK_RESPONSE_CANCEL);
        return true;
    }
    if (!json_safe::Member(req, "path").isString()) {
        cmd.reply(Ok(*open));
        return true;
    }
    const std::string path = json_safe::String(req, "path");
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(open->dialog);
    if (!cmd.path_given) {
        // Typed as a user would: in a save dialog the folder and the name
        // field, in an open dialog the file selected.
        cmd.dialog = open;
        cmd.path_given = true;
        if (open->options.save) {
            gchar* folder = g_path_get_dirname(path.c_str());
            gchar* name = g_path_get_basename(path.c_str());
            gtk_file_chooser_set_current_folder(chooser, folder);
            gtk_file_chooser_set_current_name(chooser, name);
            g_free(folder);
            g_free(name);
        } else {
            gtk_file_chooser_set_filename(chooser, path.c_str());
        }
    }
    // The chooser takes a folder change in its own time, and once the folder
    // has loaded its name field may complete the typed name inline to a file
    // that is there ("mine" to "mine.ds"). The name is typed again right
    // before the click, in the same turn of the loop, so the dialog answers
    // with the name given and nothing the completion added.
    if (open->options.save) {
        gchar* folder = gtk_file_chooser_get_current_folder(chooser);
        gchar* wanted = g_path_get_dirname(path.c_str());
        const bool in_folder = folder != nullptr && g_strcmp0(folder, wanted) == 0;
        g_free(folder);
        if (in_folder) {
            gchar* name = g_path_get_basename(path.c_str());
            gtk_file_chooser_set_current_name(chooser, name);
            g_free(name);
        }
        g_free(wanted);
    }
    const std::string chosen = ChosenPath(open->dialog);
    if (chosen != path) {
        if (!late) return false;
        cmd.reply(Fail("the dialog did not take the path (it holds \"" + chosen + "\")"));
        return true;
    }
    cmd.reply(Ok(*open));
    Click(open->dialog, GTK_RESPONSE_ACCEPT);  // the button the user would press
    return true;
}

gboolean Poll(gpointer data) {
    auto* cmd = static_cast<Command*>(data);
    if (!Step(*cmd)) return G_SOURCE_CONTINUE;
    delete cmd;
    return G_SOURCE_REMOVE;
}

}  // namespace

bool FileDialogOpen() {
    return Current() != nullptr;
}

std::string RunFileDialog(const FileDialogOptions& options) {
    if (!EngineReady() || !IsUiThread()) return std::string();
    HostWindow* parent = options.parent ? FindWindow(options.parent) : ActiveWindow();
    GtkWindow* parent_window = parent && parent->gtk_window() ? GTK_WINDOW(parent->gtk_window()) : nullptr;
    if (parent) parent->FlushWrites();

    OpenDialog open;
    open.options = options;
    open.dialog = gtk_file_chooser_dialog_new(
        options.title.c_str(), parent_window,
        options.save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, nullptr, nullptr);
    GtkFileChooser* chooser = GTK_FILE_CHOOSER(open.dialog);
    gtk_dialog_add_button(GTK_DIALOG(open.dialog), GtkText("_Cancel"), GTK_RESPONSE_CANCEL);
    // The accept button adds the default extension before the dialog acts on
    // the click: its handler is connected before the dialog's own.
    open.accept = gtk_button_new_with_mnemonic(GtkText(options.save ? "_Save" : "_Open"));
    g_signal_connect(open.accept, "clicked", G_CALLBACK(AddDefaultExtension), &open);
    gtk_dialog_add_action_widget(GTK_DIALOG(open.dialog), open.accept, GTK_RESPONSE_ACCEPT);
    gtk_widget_set_can_default(open.accept, TRUE);
    gtk_widget_show(open.accept);
    gtk_dialog_set_default_response(GTK_DIALOG(open.dialog), GTK_RESPONSE_ACCEPT);
    gtk_window_set_modal(GTK_WINDOW(open.dialog), TRUE);
    gtk_window_set_resizable(GTK_WINDOW(open.dialog), TRUE);
    gtk_file_chooser_set_local_only(chooser, TRUE);
    gtk_file_chooser_set_select_multiple(chooser, FALSE);
    if (options.save) gtk_file_chooser_set_do_overwrite_confirmation(chooser, TRUE);
    for (const FileFilter& f : options.filters) {
        GtkFileFilter* filter = gtk_file_filter_new();
        gtk_file_filter_set_name(filter, f.name.c_str());
        // "*.*" is every file, with or without a dot in its name.
        gtk_file_filter_add_pattern(filter, f.pattern == "*.*" ? "*" : f.pattern.c_str());
        gtk_file_chooser_add_filter(chooser, filter);  // the chooser takes the reference
    }

    g_open.push_back(&open);
    const int response = gtk_dialog_run(GTK_DIALOG(open.dialog));
    std::string path = response == GTK_RESPONSE_ACCEPT ? ChosenPath(open.dialog) : std::string();
    g_open.pop_back();
    gtk_widget_destroy(open.dialog);
    return path;
}

void detail::FileDialogCommand(const Json::Value& request, const std::function<void(const Json::Value&)>& reply) {
    auto* cmd = new Command;
    cmd->request = request;
    cmd->reply = reply;
    cmd->deadline = g_get_monotonic_time() + static_cast<gint64>(RequestTimeoutMs(request)) * 1000;
    if (Poll(cmd) == G_SOURCE_CONTINUE) g_timeout_add(20, Poll, cmd);
}

}  // namespace ui
