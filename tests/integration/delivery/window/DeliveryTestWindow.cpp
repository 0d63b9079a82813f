// "Another application" for the delivery tests: an entry, a read-only entry, a
// password entry, an entry that ignores every insertion and a text view. It
// takes commands on stdin, one a line, and reports on stdout what happens to it
// (text changes, key events, clipboard contents).
//   delivery_test_window [--app-id ID] [--class CLASS]
#include <gtk/gtk.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>
#include "integration/delivery/DeliveryWindowProcess.h"

namespace {

using namespace velvox::testing;
std::map<std::string, GtkWidget*> widgets;
GtkWidget* window = nullptr;
// What this window copied last, target by target, as a rich editor offers it.
std::vector<std::pair<std::string, std::string>> offer;

// What holds a field's text: the entry itself, or the text view's buffer.
GObject* textOf(GtkWidget* widget) {
    return GTK_IS_TEXT_VIEW(widget) ? G_OBJECT(gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget)))
                                    : G_OBJECT(widget);
}

// One line per report: a backslash and a line break are escaped.
void reportText(const std::string& name) {
    g_autofree gchar* text = nullptr;
    g_object_get(textOf(widgets[name]), "text", &text, nullptr);
    std::string line = "text " + name + " ";
    for (const char* c = text; *c; ++c)
        line += *c == '\\' ? "\\\\" : *c == '\n' ? "\\n" : std::string(1, *c);
    say(line);
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        bool escaped = text[i] == '\\' && i + 1 < text.size();
        out += escaped && text[++i] == 'n' ? '\n' : text[i];
    }
    return out;
}

std::string binaryImage(size_t size) {
    std::string bytes = "\x89PNG\r\n\x1a\n";
    for (size_t i = 0; bytes.size() < size; ++i) bytes += static_cast<char>((i * 7919) & 0xff);
    return bytes;
}

void copy(std::vector<std::pair<std::string, std::string>> targets) {
    offer = std::move(targets);
    std::vector<GtkTargetEntry> entries;
    for (size_t i = 0; i < offer.size(); ++i)
        entries.push_back({offer[i].first.data(), 0, static_cast<guint>(i)});
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    auto give = [](GtkClipboard*, GtkSelectionData* selection, guint index, gpointer) {
        const auto& [target, bytes] = offer[index];
        gtk_selection_data_set(selection, gdk_atom_intern(target.c_str(), FALSE), 8,
                               reinterpret_cast<const guchar*>(bytes.data()), gint(bytes.size()));
    };
    gtk_clipboard_set_with_data(
        clipboard, entries.data(), guint(entries.size()), give, [](GtkClipboard*, gpointer) {},
        nullptr);
    gtk_clipboard_set_can_store(clipboard, nullptr, 0);
    say("copied");
}

// Reads every target the clipboard's owner offers and reports each as
// "clip TARGET SIZE HASH" (or "clip TARGET none"), then "clip-end".
void dumpClipboard() {
    GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
    // Asked afresh: the toolkit's cached list may still be the previous owner's.
    g_autoptr(GtkSelectionData) list =
        gtk_clipboard_wait_for_contents(clipboard, gdk_atom_intern("TARGETS", FALSE));
    g_autofree GdkAtom* atoms = nullptr;
    gint count = 0;
    if (list && !gtk_selection_data_get_targets(list, &atoms, &count)) count = 0;
    for (gint i = 0; i < count; ++i) {
        g_autofree gchar* name = gdk_atom_name(atoms[i]);
        std::string target = name;
        if (target == "TARGETS" || target == "TIMESTAMP" || target == "MULTIPLE" ||
            target == "SAVE_TARGETS")
            continue;
        g_autoptr(GtkSelectionData) selection =
            gtk_clipboard_wait_for_contents(clipboard, atoms[i]);
        gint length = selection ? gtk_selection_data_get_length(selection) : -1;
        const guchar* bytes = length >= 0 ? gtk_selection_data_get_data(selection) : nullptr;
        say("clip " + (length < 0 ? target + " none"
                                  : clipSummary(target, std::string(bytes, bytes + length))));
    }
    say("clip-end");
}

void command(const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    std::string rest = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
    std::string name = rest.substr(0, rest.find(' '));
    std::string argument = rest.size() > name.size() ? rest.substr(name.size() + 1) : "";
    GtkWidget* widget = widgets.count(name) ? widgets[name] : nullptr;
    GtkTextBuffer* buffer =
        GTK_IS_TEXT_VIEW(widget) ? gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget)) : nullptr;
    std::string text(4000, 't');
    if (verb == "focus") {
        gtk_window_present(GTK_WINDOW(window));
        gtk_widget_grab_focus(widget);
        say("focused " + name);
    } else if (verb == "set") {  // set FIELD TEXT
        g_object_set(textOf(widget), "text", unescape(argument).c_str(), nullptr);
        say("set " + name);
    } else if (verb == "select") {  // select FIELD START END
        int start = 0, end = 0;
        std::sscanf(argument.c_str(), "%d %d", &start, &end);
        GtkTextIter from, to;
        if (buffer) {
            gtk_text_buffer_get_iter_at_offset(buffer, &from, start);
            gtk_text_buffer_get_iter_at_offset(buffer, &to, end);
            gtk_text_buffer_select_range(buffer, &from, &to);
        } else {
            gtk_editable_select_region(GTK_EDITABLE(widget), start, end);
        }
        say("selected " + name);
    } else if (verb == "copy-text") {
        copy({{"UTF8_STRING", unescape(rest)}, {"text/plain;charset=utf-8", unescape(rest)}});
    } else if (verb == "copy-rich") {  // copy-rich TEXT|HTML|IMAGE_SIZE
        auto bar = rest.find('|'), bar2 = rest.find('|', bar + 1);
        std::string text = unescape(rest.substr(0, bar));
        copy({{"UTF8_STRING", text},
              {"text/plain;charset=utf-8", text},
              {"text/html", unescape(rest.substr(bar + 1, bar2 - bar - 1))},
              {"image/png", binaryImage(std::stoul(rest.substr(bar2 + 1)))}});
    } else if (verb == "copy-five") {  // as an office application offers it
        copy({{"UTF8_STRING", text},
              {"text/plain;charset=utf-8", text},
              {"text/html", "<p>" + text + "</p>"},
              {"text/rtf", "{\\rtf1 " + text + "}"},
              {"image/png", binaryImage(20000)}});
    } else if (verb == "copy-image") {
        copy({{"image/png", binaryImage(std::stoul(rest))}});
    } else if (verb == "copy-large") {
        text.resize(std::stoul(rest));
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + (i * 31) % 26);
        copy({{"UTF8_STRING", text}});
    } else if (verb == "dump-clipboard") {
        dumpClipboard();
    } else if (verb == "report") {
        reportText(name);
    }
}

gboolean readCommands(GIOChannel* channel, GIOCondition condition, gpointer) {
    if (condition & (G_IO_HUP | G_IO_ERR)) std::exit(0);  // the test has gone
    gchar* line = nullptr;
    gsize length = 0, end = 0;
    while (g_io_channel_read_line(channel, &line, &length, &end, nullptr) == G_IO_STATUS_NORMAL) {
        command(std::string(line, end));
        g_free(line);
    }
    return G_SOURCE_CONTINUE;
}

// "key press v control+shift": the key and the modifiers held with it.
gboolean keyEvent(GtkWidget*, GdkEventKey* event, gpointer) {
    std::string modifiers;
    if (event->state & GDK_CONTROL_MASK) modifiers += "+control";
    if (event->state & GDK_SHIFT_MASK) modifiers += "+shift";
    if (event->state & GDK_MOD1_MASK) modifiers += "+alt";
    const char* name = gdk_keyval_name(event->keyval);
    say(std::string("key ") + (event->type == GDK_KEY_PRESS ? "press " : "release ") +
        (name ? name : "?") + " " + (modifiers.empty() ? "none" : modifiers.substr(1)));
    return FALSE;
}

void buildWindow(GtkWidget* toplevel) {
    window = toplevel;
    gtk_window_set_title(GTK_WINDOW(window), "Delivery test window");
    gtk_window_set_default_size(GTK_WINDOW(window), 600, 400);
    gtk_window_move(GTK_WINDOW(window), 100, 100);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(window), box);
    for (const char* name : {"entry", "readonly", "password", "stubborn", "view"}) {
        bool view = name[0] == 'v';
        GtkWidget* widget = widgets[name] = view ? gtk_text_view_new() : gtk_entry_new();
        gtk_box_pack_start(GTK_BOX(box), widget, view, view, 0);
        g_signal_connect_swapped(textOf(widget), "changed", G_CALLBACK(+[](gpointer data) {
                                     reportText(static_cast<char*>(data));
                                 }),
                                 const_cast<char*>(name));
    }
    gtk_widget_set_size_request(widgets["view"], 500, 200);
    gtk_entry_set_text(GTK_ENTRY(widgets["readonly"]), "fixed");
    gtk_editable_set_editable(GTK_EDITABLE(widgets["readonly"]), FALSE);
    gtk_entry_set_visibility(GTK_ENTRY(widgets["password"]), FALSE);
    gtk_entry_set_text(GTK_ENTRY(widgets["stubborn"]), "keep this");
    g_signal_connect(widgets["stubborn"], "insert-text",
                     G_CALLBACK(+[](GtkEditable* editable, gchar*, gint, gpointer, gpointer) {
                         g_signal_stop_emission_by_name(editable, "insert-text");
                     }),
                     nullptr);
    // "button press 360 270": a pointer press on the window, where on the screen.
    gdk_event_handler_set(
        [](GdkEvent* event, gpointer) {
            if (event->type == GDK_BUTTON_PRESS)
                say("button press " + std::to_string(int(event->button.x_root)) + " " +
                    std::to_string(int(event->button.y_root)));
            gtk_main_do_event(event);
        },
        nullptr, nullptr);
    g_signal_connect(window, "key-press-event", G_CALLBACK(keyEvent), nullptr);
    g_signal_connect(window, "key-release-event", G_CALLBACK(keyEvent), nullptr);
    // "active yes" once the keyboard's keys come here.
    g_signal_connect(window, "notify::is-active", G_CALLBACK(+[](GtkWindow* self, GParamSpec*) {
                         say(gtk_window_is_active(self) ? "active yes" : "active no");
                     }),
                     nullptr);
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(widgets["entry"]);

    GIOChannel* channel = g_io_channel_unix_new(0);
    g_io_channel_set_flags(channel, G_IO_FLAG_NONBLOCK, nullptr);
    g_io_add_watch(channel, GIOCondition(G_IO_IN | G_IO_HUP | G_IO_ERR), readCommands, nullptr);
    // The display's kind tells whether the window runs on X11 or natively on Wayland.
    g_timeout_add_once(
        300,
        [](gpointer) {
            say("ready " + std::to_string(getpid()) + " " +
                G_OBJECT_TYPE_NAME(gdk_display_get_default()));
        },
        nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    std::string appId, windowClass;
    for (int i = 1; i + 1 < argc; i += 2)
        (std::string(argv[i]) == "--app-id" ? appId : windowClass) = argv[i + 1];
    if (!windowClass.empty()) {
        g_set_prgname(g_ascii_strdown(windowClass.c_str(), -1));
        gdk_set_program_class(windowClass.c_str());
    }
    // Without an ID, a plain toolkit window that names no application.
    GtkApplication* application =
        gtk_application_new(appId.empty() ? nullptr : appId.c_str(), G_APPLICATION_NON_UNIQUE);
    g_signal_connect(application, "activate", G_CALLBACK(+[](GtkApplication* app, gpointer) {
                         buildWindow(gtk_application_window_new(app));
                         g_application_hold(G_APPLICATION(app));
                     }),
                     nullptr);
    int status = g_application_run(G_APPLICATION(application), 1, argv);
    g_object_unref(application);
    return status;
}
