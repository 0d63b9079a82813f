#include "linux/dbus/RunningCopy.h"

#include <dbus/dbus.h>

#include <memory>

namespace velvox {

namespace {

// A shortcut's command never hangs on a copy that has stopped answering.
constexpr int kTimeoutMilliseconds = 1000;

struct ConnectionCloser {
    void operator()(DBusConnection* bus) const {
        dbus_connection_close(bus);
        dbus_connection_unref(bus);
    }
};
struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// A connection of our own, made once per process (`velvox retry` asks
// whether a copy runs, then hands the command over): nothing else in this
// process shares it, and losing it does not end the process.
DBusConnection* sessionBus() {
    static const Connection bus = [] {
        DBusError error;
        dbus_error_init(&error);
        Connection made(dbus_bus_get_private(DBUS_BUS_SESSION, &error));
        dbus_error_free(&error);
        if (made) dbus_connection_set_exit_on_disconnect(made.get(), FALSE);
        return made;
    }();
    return bus.get();
}

// A call to the application's own object, which never starts it.
Message callTo(const std::string& applicationID, const char* interface, const char* method) {
    Message message(dbus_message_new_method_call(
        applicationID.c_str(), objectPathOf(applicationID).c_str(), interface, method));
    if (message) dbus_message_set_auto_start(message.get(), FALSE);
    return message;
}

// The reply, or none with the error's name.
Message send(DBusConnection* bus, DBusMessage* message, std::string& errorName) {
    DBusError error;
    dbus_error_init(&error);
    Message reply(
        dbus_connection_send_with_reply_and_block(bus, message, kTimeoutMilliseconds, &error));
    if (!reply && error.name) errorName = error.name;
    dbus_error_free(&error);
    return reply;
}

bool noCopyThere(const std::string& errorName) {
    for (const char* none :
         {DBUS_ERROR_SERVICE_UNKNOWN, DBUS_ERROR_NAME_HAS_NO_OWNER, DBUS_ERROR_UNKNOWN_METHOD,
          DBUS_ERROR_UNKNOWN_OBJECT, DBUS_ERROR_UNKNOWN_INTERFACE})
        if (errorName == none) return true;
    return false;
}

}  // namespace

std::string commandsInterface(const std::string& applicationID) {
    return applicationID + ".Dictation";
}

std::string objectPathOf(const std::string& applicationID) {
    std::string path = "/" + applicationID;
    for (char& c : path) {
        if (c == '.') c = '/';
        if (c == '-') c = '_';
    }
    return path;
}

bool isApplicationRunning(const std::string& applicationID) {
    DBusConnection* bus = sessionBus();
    if (!bus) return false;
    Message message(dbus_message_new_method_call(DBUS_SERVICE_DBUS, DBUS_PATH_DBUS,
                                                 DBUS_INTERFACE_DBUS, "NameHasOwner"));
    const char* name = applicationID.c_str();
    dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    std::string errorName;
    Message reply = send(bus, message.get(), errorName);
    dbus_bool_t running = FALSE;
    if (reply) {
        DBusError error;
        dbus_error_init(&error);
        if (!dbus_message_get_args(reply.get(), &error, DBUS_TYPE_BOOLEAN, &running,
                                   DBUS_TYPE_INVALID))
            running = FALSE;
        dbus_error_free(&error);
    }
    return running;
}

std::optional<std::string> handOverDictation(const std::string& applicationID,
                                             const std::string& command, bool boost,
                                             std::optional<uint64_t> sentAt) {
    DBusConnection* bus = sessionBus();
    const char* text = command.c_str();
    if (!bus || !dbus_validate_utf8(text, nullptr)) return std::nullopt;
    dbus_bool_t withBoost = boost;
    dbus_uint64_t at = sentAt.value_or(0);
    std::string errorName;
    Message reply;
    // The time goes with the command; a copy of an earlier release, still
    // running after an update, knows the command without it.
    for (bool withTime : {sentAt.has_value(), false}) {
        Message message = callTo(applicationID, commandsInterface(applicationID).c_str(),
                                 withTime ? kRunSentCommandMethod : kRunCommandMethod);
        bool filled =
            withTime ? dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &text,
                                                DBUS_TYPE_BOOLEAN, &withBoost, DBUS_TYPE_UINT64,
                                                &at, DBUS_TYPE_INVALID)
                     : dbus_message_append_args(message.get(), DBUS_TYPE_STRING, &text,
                                                DBUS_TYPE_BOOLEAN, &withBoost, DBUS_TYPE_INVALID);
        if (!filled) return std::nullopt;
        errorName.clear();
        reply = send(bus, message.get(), errorName);
        if (!withTime || errorName != DBUS_ERROR_UNKNOWN_METHOD) break;
    }
    if (!reply) {
        // It may yet carry it out: not the same as none running.
        if (errorName == DBUS_ERROR_NO_REPLY || errorName == DBUS_ERROR_TIMEOUT)
            return "the running copy did not answer";
        return std::nullopt;
    }
    DBusError error;
    dbus_error_init(&error);
    const char* refusal = nullptr;
    bool read =
        dbus_message_get_args(reply.get(), &error, DBUS_TYPE_STRING, &refusal, DBUS_TYPE_INVALID);
    dbus_error_free(&error);
    if (!read) return std::nullopt;
    return std::string(refusal);
}

bool handOverLaunch(const std::string& applicationID, const std::vector<std::string>& urls) {
    DBusConnection* bus = sessionBus();
    if (!bus) return false;
    // GApplication's own interface for a launch handed over.
    Message message =
        callTo(applicationID, "org.freedesktop.Application", urls.empty() ? "Activate" : "Open");
    DBusMessageIter arguments, list, platformData;
    dbus_message_iter_init_append(message.get(), &arguments);
    if (!urls.empty()) {
        dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "s", &list);
        for (const auto& url : urls) {
            const char* text = url.c_str();
            if (!dbus_validate_utf8(text, nullptr) ||
                !dbus_message_iter_append_basic(&list, DBUS_TYPE_STRING, &text)) {
                dbus_message_iter_abandon_container(&arguments, &list);
                return false;
            }
        }
        dbus_message_iter_close_container(&arguments, &list);
    }
    dbus_message_iter_open_container(&arguments, DBUS_TYPE_ARRAY, "{sv}", &platformData);
    dbus_message_iter_close_container(&arguments, &platformData);
    std::string errorName;
    Message reply = send(bus, message.get(), errorName);
    // A copy still busy starting has the call queued and carries it out
    // later: handing it over again would open the address twice.
    return reply || !noCopyThere(errorName);
}

}  // namespace velvox
