#include "platform/linux/GtkApplicationShell.h"

#include <X11/Xlib.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <csignal>

#include "platform/linux/GlibIds.h"

namespace velvox {

namespace {

struct Shell {
    ApplicationEvents events;
    std::vector<std::string> launchURLs;
    // GApplication activates the first copy once as it starts; that is the
    // launch itself, not a reopen.
    bool sawOwnActivation = false;
};

void onStartup(GApplication* application, gpointer data) {
    // A tray application has no window most of the time; without a hold the
    // application would end as soon as it started.
    g_application_hold(application);
    auto* shell = static_cast<Shell*>(data);
    if (shell->events.launched) shell->events.launched();
    if (!shell->launchURLs.empty() && shell->events.opened) shell->events.opened(shell->launchURLs);
}

void onActivate(GApplication*, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    if (!shell->sawOwnActivation) {
        shell->sawOwnActivation = true;
        return;
    }
    if (shell->events.reopened) shell->events.reopened();
}

void onOpen(GApplication*, GFile** files, gint count, const gchar*, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    std::vector<std::string> urls;
    for (gint i = 0; i < count; ++i) {
        char* uri = g_file_get_uri(files[i]);
        if (uri) urls.emplace_back(uri);
        g_free(uri);
    }
    if (!urls.empty() && shell->events.opened) shell->events.opened(urls);
}

void onShutdown(GApplication*, gpointer data) {
    auto* shell = static_cast<Shell*>(data);
    if (shell->events.terminating) shell->events.terminating();
}

gboolean onTerminationSignal(gpointer) {
    quitGtkApplication();
    return G_SOURCE_CONTINUE;
}

// Hands the addresses, or a reopen, to the copy that runs already.
void handOver(GApplication* application, const std::vector<std::string>& urls) {
    if (urls.empty()) {
        g_application_activate(application);
    } else {
        std::vector<GFile*> files;
        for (const auto& url : urls) files.push_back(g_file_new_for_uri(url.c_str()));
        g_application_open(application, files.data(), static_cast<gint>(files.size()), "");
        for (GFile* file : files) g_object_unref(file);
    }
    if (GDBusConnection* bus = g_application_get_dbus_connection(application))
        g_dbus_connection_flush_sync(bus, nullptr, nullptr);
}

}  // namespace

int runGtkApplication(const std::string& applicationID, const std::vector<std::string>& urls,
                      ApplicationEvents events) {
    // The clipboard is read on a thread of its own, with a connection of its
    // own; Xlib's shared state needs its locks for that, set before any
    // other Xlib call.
    XInitThreads();
    // Keys, pastes, the clipboard and the pill all speak X11; on a Wayland
    // desktop the application runs through XWayland.
    gdk_set_allowed_backends("x11");
    Shell shell{std::move(events), urls, false};
    // The handlers must be in place before registering: a first copy starts
    // up during registration.
    auto make = [&](GApplicationFlags flags, bool& registered) {
        GtkApplication* application = gtk_application_new(applicationID.c_str(), flags);
        g_signal_connect(application, "startup", G_CALLBACK(onStartup), &shell);
        g_signal_connect(application, "activate", G_CALLBACK(onActivate), &shell);
        g_signal_connect(application, "open", G_CALLBACK(onOpen), &shell);
        g_signal_connect(application, "shutdown", G_CALLBACK(onShutdown), &shell);
        GError* error = nullptr;
        registered = g_application_register(G_APPLICATION(application), nullptr, &error);
        if (!registered) {
            g_warning("could not register the application: %s", error ? error->message : "unknown");
            g_clear_error(&error);
        }
        return application;
    };

    bool registered = false;
    GtkApplication* application = make(G_APPLICATION_HANDLES_OPEN, registered);
    if (!registered) {
        // No session bus: run as a lone copy rather than not at all.
        g_object_unref(application);
        application = make(GApplicationFlags(G_APPLICATION_HANDLES_OPEN | G_APPLICATION_NON_UNIQUE),
                           registered);
        if (!registered) {
            g_object_unref(application);
            return 1;
        }
    }
    if (g_application_get_is_remote(G_APPLICATION(application))) {
        handOver(G_APPLICATION(application), urls);
        g_object_unref(application);
        return 0;
    }

    int status = 0;
    {
        SourceId terminate(g_unix_signal_add(SIGTERM, onTerminationSignal, nullptr));
        SourceId interrupt(g_unix_signal_add(SIGINT, onTerminationSignal, nullptr));
        char program[] = "velvox";
        char* argv[] = {program, nullptr};
        status = g_application_run(G_APPLICATION(application), 1, argv);
    }
    g_object_unref(application);
    return status;
}

void quitGtkApplication() {
    if (GApplication* application = g_application_get_default()) g_application_quit(application);
}

}  // namespace velvox
