// A small GTK application that stands for "another application" in the
// delivery tests: an entry, a text view, a read-only entry, a password
// entry and an entry that ignores every insertion. It takes commands on stdin, one per line, and
// reports what happens to it on stdout (text changes, key events, clipboard contents).
//
//   delivery_test_window [--app-id ID] [--class CLASS] [--title TITLE]
#include <gtk/gtk.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

std::map<std::string, GtkWidget*> widgets;
GtkWidget* window = nullptr;

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::string unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            ++i;
            out += text[i] == 'n' ? '\n' : text[i];
        } else {
            out += text[i];
        }
    }
    return out;
}

uint64_t fnv(const std::string& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

std::string textOf(const std::string& name) {
    GtkWidget* widget = widgets[name];
    if (GTK_IS_ENTRY(widget)) return gtk_entry_get_text(GTK_ENTRY(widget));
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    gchar* text = gtk_text_buffer_get_text(buffer, &start, &end, FALSE);
    std::string result = text;
    g_free(text);
    return result;
}

void reportText(const std::string& name) {
    say("text " + name + " " + escape(textOf(name)));
}

// Clipboard content offered under several targets, as a rich editor would.
struct Offer {
    std::vector<std::pair<std::string, std::string>> targets;
};
Offer offer;

void giveOffer(GtkClipboard*, GtkSelectionData* selection, guint index, gpointer) {
    const auto& [target, bytes] = offer.targets[index];
    gtk_selection_data_set(selection, gdk_atom_intern(target.c_str(), FALSE), 8,
                           reinterpret_cast<const guchar*>(bytes.data()),
                           static_cast<gint>(bytes.size()));
}

void clearOffer(GtkClipboard*, gpointer) {}

void setOffer(Offer newOffer) {
    offer = std::move(newOffer);
    std::vector<GtkTargetEntry> entries;
    for (size_t i = 0; i < offer.targets.size(); ++i) {
        entries.push_back(
            {const_cast<gchar*>(offer.targets[i].first.c_str()), 0, static_cast<guint>(i)});
    }
    gtk_clipboard_set_with_data(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), entries.data(),
                                static_cast<guint>(entries.size()), giveOffer, clearOffer, nullptr);
    gtk_clipboard_set_can_store(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), nullptr, 0);
    say("copied");
}

std::string binaryImage(size_t size) {
    std::string bytes = "\x89PNG\r\n\x1a\n";
    for (size_t i = 0; bytes.size() < size; ++i) bytes += static_cast<char>((i * 7919) & 0xff);
    return bytes;
}

// Reads every target the clipboard owner offers and reports each one's size
// and hash, then "clip-end".
struct Dump {
    std::vector<std::string> pending;
};

void dumpNext(Dump* dump);

void gotContents(GtkClipboard*, GtkSelectionData* selection, gpointer data) {
    auto* dump = static_cast<Dump*>(data);
    std::string target = dump->pending.front();
    dump->pending.erase(dump->pending.begin());
    gint length = gtk_selection_data_get_length(selection);
    if (length >= 0) {
        std::string bytes(reinterpret_cast<const char*>(gtk_selection_data_get_data(selection)),
                          static_cast<size_t>(length));
        say("clip " + target + " " + std::to_string(bytes.size()) + " " +
            std::to_string(fnv(bytes)));
    } else {
        say("clip " + target + " none");
    }
    dumpNext(dump);
}

void dumpNext(Dump* dump) {
    if (dump->pending.empty()) {
        say("clip-end");
        delete dump;
        return;
    }
    gtk_clipboard_request_contents(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD),
                                   gdk_atom_intern(dump->pending.front().c_str(), FALSE),
                                   gotContents, dump);
}

void gotTargets(GtkClipboard*, GdkAtom* atoms, gint count, gpointer) {
    auto* dump = new Dump;
    for (gint i = 0; i < count; ++i) {
        gchar* name = gdk_atom_name(atoms[i]);
        std::string target = name;
        g_free(name);
        if (target != "TARGETS" && target != "TIMESTAMP" && target != "MULTIPLE" &&
            target != "SAVE_TARGETS") {
            dump->pending.push_back(target);
        }
    }
    if (count <= 0) say("clip-empty");
    dumpNext(dump);
}

void command(const std::string& line) {
    std::string verb = line.substr(0, line.find(' '));
    std::string rest = line.size() > verb.size() ? line.substr(verb.size() + 1) : "";
    if (verb == "focus") {
        gtk_window_present(GTK_WINDOW(window));
        gtk_widget_grab_focus(widgets[rest]);
        say("focused " + rest);
    } else if (verb == "set") {
        std::string name = rest.substr(0, rest.find(' '));
        std::string text = unescape(rest.size() > name.size() ? rest.substr(name.size() + 1) : "");
        GtkWidget* widget = widgets[name];
        if (GTK_IS_ENTRY(widget))
            gtk_entry_set_text(GTK_ENTRY(widget), text.c_str());
        else
            gtk_text_buffer_set_text(gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget)), text.c_str(),
                                     -1);
        say("set " + name);
    } else if (verb == "select") {
        char name[64] = {0};
        int start = 0, end = 0;
        std::sscanf(rest.c_str(), "%63s %d %d", name, &start, &end);
        GtkWidget* widget = widgets[name];
        if (GTK_IS_ENTRY(widget)) {
            gtk_editable_select_region(GTK_EDITABLE(widget), start, end);
        } else {
            GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget));
            GtkTextIter from, to;
            gtk_text_buffer_get_iter_at_offset(buffer, &from, start);
            gtk_text_buffer_get_iter_at_offset(buffer, &to, end);
            gtk_text_buffer_select_range(buffer, &from, &to);
        }
        say("selected " + std::string(name));
    } else if (verb == "copy-text") {
        setOffer({{{"UTF8_STRING", unescape(rest)}, {"text/plain;charset=utf-8", unescape(rest)}}});
    } else if (verb == "copy-rich") {
        // copy-rich TEXT|HTML|IMAGE_SIZE
        auto bar = rest.find('|');
        auto bar2 = rest.find('|', bar + 1);
        std::string text = unescape(rest.substr(0, bar));
        std::string html = unescape(rest.substr(bar + 1, bar2 - bar - 1));
        size_t imageSize = std::stoul(rest.substr(bar2 + 1));
        setOffer({{{"UTF8_STRING", text},
                   {"text/plain;charset=utf-8", text},
                   {"text/html", html},
                   {"image/png", binaryImage(imageSize)}}});
    } else if (verb == "copy-five") {
        // Five targets of a few kilobytes each, as an office application offers.
        std::string text(4000, 't');
        setOffer({{{"UTF8_STRING", text},
                   {"text/plain;charset=utf-8", text},
                   {"text/html", "<p>" + text + "</p>"},
                   {"text/rtf", "{\\rtf1 " + text + "}"},
                   {"image/png", binaryImage(20000)}}});
    } else if (verb == "copy-image") {
        setOffer({{{"image/png", binaryImage(std::stoul(rest))}}});
    } else if (verb == "copy-large") {
        std::string text(std::stoul(rest), 'x');
        for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + (i * 31) % 26);
        setOffer({{{"UTF8_STRING", text}}});
    } else if (verb == "dump-clipboard") {
        gtk_clipboard_request_targets(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), gotTargets,
                                      nullptr);
    } else if (verb == "fill") {
        // fill view N: N characters of text in lines, as a long document has.
        std::string text;
        for (size_t i = 0, size = std::stoul(rest.substr(rest.find(' ') + 1)); i < size; ++i)
            text += (i % 1000 == 999) ? '\n' : static_cast<char>('a' + i % 26);
        GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(widgets["view"]));
        gtk_text_buffer_set_text(buffer, text.c_str(), -1);
        GtkTextIter end;
        gtk_text_buffer_get_end_iter(buffer, &end);
        gtk_text_buffer_place_cursor(buffer, &end);
        say("filled view");
    } else if (verb == "report") {
        reportText(rest);
    } else if (verb == "quit") {
        gtk_main_quit();
    }
}

gboolean readCommand(GIOChannel* channel, GIOCondition condition, gpointer) {
    if (condition & (G_IO_HUP | G_IO_ERR)) {
        gtk_main_quit();
        return G_SOURCE_REMOVE;
    }
    gchar* line = nullptr;
    gsize length = 0;
    while (g_io_channel_read_line(channel, &line, &length, nullptr, nullptr) ==
               G_IO_STATUS_NORMAL &&
           line) {
        std::string text(line, length);
        g_free(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        command(text);
    }
    return G_SOURCE_CONTINUE;
}

const char* modifierText(guint state) {
    static std::string text;
    text.clear();
    if (state & GDK_CONTROL_MASK) text += "control+";
    if (state & GDK_SHIFT_MASK) text += "shift+";
    if (state & GDK_MOD1_MASK) text += "alt+";
    if (text.empty()) return "none";
    text.pop_back();
    return text.c_str();
}

gboolean keyEvent(GtkWidget*, GdkEventKey* event, gpointer) {
    say(std::string("key ") + (event->type == GDK_KEY_PRESS ? "press " : "release ") +
        (gdk_keyval_name(event->keyval) ? gdk_keyval_name(event->keyval) : "?") + " " +
        modifierText(event->state));
    return FALSE;
}

void buildWindow(GtkWidget* toplevel, const char* title) {
    window = toplevel;
    gtk_window_set_title(GTK_WINDOW(window), title);
    gtk_window_set_default_size(GTK_WINDOW(window), 600, 400);
    gtk_window_move(GTK_WINDOW(window), 100, 100);
    GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
    gtk_container_add(GTK_CONTAINER(window), box);

    auto addEntry = [&](const char* name) {
        GtkWidget* entry = gtk_entry_new();
        gtk_widget_set_name(entry, name);
        gtk_box_pack_start(GTK_BOX(box), entry, FALSE, FALSE, 0);
        widgets[name] = entry;
        g_signal_connect_swapped(entry, "changed", G_CALLBACK(+[](gpointer data) {
                                     reportText(static_cast<const char*>(data));
                                 }),
                                 const_cast<char*>(name));
        return entry;
    };
    addEntry("entry");
    GtkWidget* readonly = addEntry("readonly");
    gtk_entry_set_text(GTK_ENTRY(readonly), "fixed");
    gtk_editable_set_editable(GTK_EDITABLE(readonly), FALSE);
    GtkWidget* password = addEntry("password");
    gtk_entry_set_visibility(GTK_ENTRY(password), FALSE);
    GtkWidget* stubborn = addEntry("stubborn");
    gtk_entry_set_text(GTK_ENTRY(stubborn), "keep this");
    g_signal_connect(stubborn, "insert-text",
                     G_CALLBACK(+[](GtkEditable* editable, gchar*, gint, gpointer, gpointer) {
                         g_signal_stop_emission_by_name(editable, "insert-text");
                     }),
                     nullptr);

    GtkWidget* view = gtk_text_view_new();
    gtk_widget_set_size_request(view, 500, 200);
    gtk_box_pack_start(GTK_BOX(box), view, TRUE, TRUE, 0);
    widgets["view"] = view;
    g_signal_connect(gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)), "changed",
                     G_CALLBACK(+[](GtkTextBuffer*, gpointer) { reportText("view"); }), nullptr);

    g_signal_connect(window, "key-press-event", G_CALLBACK(keyEvent), nullptr);
    g_signal_connect(window, "key-release-event", G_CALLBACK(keyEvent), nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_widget_grab_focus(widgets["entry"]);
}

void watchStdin() {
    GIOChannel* channel = g_io_channel_unix_new(0);
    g_io_channel_set_flags(channel, G_IO_FLAG_NONBLOCK, nullptr);
    g_io_add_watch(channel, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), readCommand,
                   nullptr);
}

gboolean announce(gpointer) {
    // The display's kind tells whether the window runs on X11 or natively on Wayland.
    say("ready " + std::to_string(getpid()) + " " + G_OBJECT_TYPE_NAME(gdk_display_get_default()));
    return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
    std::string appId, windowClass, title = "Delivery test window";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--app-id") appId = argv[i + 1];
        if (option == "--class") windowClass = argv[i + 1];
        if (option == "--title") title = argv[i + 1];
    }
    if (!windowClass.empty()) {
        g_set_prgname(g_ascii_strdown(windowClass.c_str(), -1));
        gdk_set_program_class(windowClass.c_str());
    }
    if (appId.empty()) {
        gtk_init(&argc, &argv);
        buildWindow(gtk_window_new(GTK_WINDOW_TOPLEVEL), title.c_str());
        watchStdin();
        g_timeout_add(300, announce, nullptr);
        gtk_main();
        return 0;
    }
    GtkApplication* application = gtk_application_new(appId.c_str(), G_APPLICATION_NON_UNIQUE);
    static std::string windowTitle;
    windowTitle = title;
    g_signal_connect(application, "activate", G_CALLBACK(+[](GtkApplication* app, gpointer) {
                         buildWindow(gtk_application_window_new(app), windowTitle.c_str());
                         watchStdin();
                         g_application_hold(G_APPLICATION(app));
                         g_timeout_add(300, announce, nullptr);
                     }),
                     nullptr);
    int status = g_application_run(G_APPLICATION(application), 1, argv);
    g_object_unref(application);
    return status;
}
