#include "linux/wayland/RemoteDesktopPaste.h"

#include <gio/gio.h>

#include <algorithm>
#include <fstream>
#include <utility>

namespace velvox {

namespace {

constexpr const char* kInterface = "org.freedesktop.portal.RemoteDesktop";
// Device types and persistence as the portal numbers them.
constexpr guint32 kKeyboard = 1;
constexpr guint32 kPersistUntilRevoked = 2;
// X keysyms: the keys by what they mean, whatever the layout.
constexpr unsigned kControl = 0xffe3, kShift = 0xffe1, kV = 0x0076;
// A key the desktop has not taken by then may still go in later; the
// shortcut is then given up and its keys released.
constexpr int kKeyTimeoutMilliseconds = 1000;

std::string readToken(const std::string& path) {
    std::ifstream in(path);
    std::string token;
    std::getline(in, token);
    return token;
}

GVariant* noOptions() {
    return g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0);
}

}  // namespace

RemoteDesktopPaste::RemoteDesktopPaste(std::string tokenFile, std::function<bool()> focusIsTerminal,
                                       std::function<void(bool)> answered)
    : tokenFile_(std::move(tokenFile)),
      focusIsTerminal_(std::move(focusIsTerminal)),
      answered_(std::move(answered)),
      cancellable_(g_cancellable_new()) {}

RemoteDesktopPaste::~RemoteDesktopPaste() {
    g_cancellable_cancel(cancellable_.get());
    if (answerTimer_) g_source_remove(answerTimer_);
    requests_.reset();
    if (!bus_) return;
    // Nothing of ours stays pressed after us; closing the session also ends
    // its keyboard.
    for (auto symbol = held_.rbegin(); symbol != held_.rend(); ++symbol) {
        g_dbus_connection_call(bus_.get(), PortalRequests::kService, PortalRequests::kPath,
                               kInterface, "NotifyKeyboardKeysym",
                               g_variant_new("(o@a{sv}iu)", session_.c_str(), noOptions(),
                                             static_cast<gint32>(*symbol), 0u),
                               nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
    }
    PortalRequests::closeSession(bus_.get(), session_);
}

void RemoteDesktopPaste::ask() {
    if (state_ != State::unasked) return;
    state_ = State::asking;
    if (!bus_) bus_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
    if (!bus_) {
        finish(false);
        return;
    }
    requests_ = std::make_unique<PortalRequests>(bus_.get());
    std::string token = PortalRequests::token("remote");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    std::string sessionToken = PortalRequests::token("remote_session");
    g_variant_builder_add(&options, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken.c_str()));
    requests_->call(kInterface, "CreateSession", g_variant_new("(a{sv})", &options), token,
                    [this](GVariant* results) { sessionCreated(results); });
}

void RemoteDesktopPaste::sessionCreated(GVariant* results) {
    const char* session = nullptr;
    if (!results || !g_variant_lookup(results, "session_handle", "&s", &session) ||
        !g_variant_is_object_path(session)) {
        finish(false);
        return;
    }
    session_ = session;
    std::string token = PortalRequests::token("devices");
    GVariantBuilder options;
    g_variant_builder_init(&options, G_VARIANT_TYPE_VARDICT);
    g_variant_builder_add(&options, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
    g_variant_builder_add(&options, "{sv}", "types", g_variant_new_uint32(kKeyboard));
    g_variant_builder_add(&options, "{sv}", "persist_mode",
                          g_variant_new_uint32(kPersistUntilRevoked));
    // The consent the user gave before, if any: no dialog this time.
    std::string kept = readToken(tokenFile_);
    if (!kept.empty()) {
        g_variant_builder_add(&options, "{sv}", "restore_token",
                              g_variant_new_string(kept.c_str()));
    }
    requests_->call(kInterface, "SelectDevices",
                    g_variant_new("(oa{sv})", session_.c_str(), &options), token,
                    [this](GVariant* results) { devicesSelected(results); });
}

void RemoteDesktopPaste::devicesSelected(GVariant* results) {
    if (!results) {
        finish(false);
        return;
    }
    std::string token = PortalRequests::token("start");
    requests_->call(
        kInterface, "Start",
        g_variant_new("(os@a{sv})", session_.c_str(), "", PortalRequests::handleOnly(token)), token,
        [this](GVariant* results) { started(results); });
}

void RemoteDesktopPaste::started(GVariant* results) {
    guint32 devices = 0;
    if (!results || !g_variant_lookup(results, "devices", "u", &devices) ||
        !(devices & kKeyboard)) {
        finish(false);
        return;
    }
    const char* token = nullptr;
    if (g_variant_lookup(results, "restore_token", "&s", &token) && *token) {
        std::ofstream(tokenFile_, std::ios::trunc) << token << "\n";
    }
    finish(true);
}

void RemoteDesktopPaste::finish(bool agreed) {
    state_ = agreed ? State::agreed : State::refused;
    if (answerTimer_) g_source_remove(std::exchange(answerTimer_, 0));
    if (answered_) answered_(agreed);
    if (agreed) {
        sendNext();
        return;
    }
    // Answers the posts that waited; a callback may post again, and a
    // refusal answers that one at once.
    for (auto waiting = std::exchange(waiting_, {}); !waiting.empty(); waiting.pop_front())
        if (waiting.front()) waiting.front()(false);
}

std::string RemoteDesktopPaste::note() const {
    if (state_ == State::agreed) return {};
    return "the first paste into an app asks, in a dialog of your desktop, whether Velvox may "
           "control the keyboard: allow it, Velvox types only the paste keys (ctrl V); that "
           "dictation waits on the clipboard, the next ones paste";
}

void RemoteDesktopPaste::post(Sent sent) {
    if (state_ == State::refused) {
        if (sent) sent(false);
        return;
    }
    waiting_.push_back(std::move(sent));
    if (state_ == State::agreed) {
        sendNext();
        return;
    }
    ask();
    if (state_ != State::asking || answerTimer_) return;
    // The desktop may be showing a dialog: this paste does not wait for a
    // person, its text stays on the clipboard; the answer serves later ones.
    answerTimer_ = g_timeout_add(
        static_cast<guint>(kAnswerWaitSeconds * 1000),
        [](gpointer data) {
            auto* self = static_cast<RemoteDesktopPaste*>(data);
            self->answerTimer_ = 0;
            for (auto waiting = std::exchange(self->waiting_, {}); !waiting.empty();
                 waiting.pop_front())
                if (waiting.front()) waiting.front()(false);
            return G_SOURCE_REMOVE;
        },
        this);
}

void RemoteDesktopPaste::sendNext() {
    if (!keys_.empty() || waiting_.empty() || state_ != State::agreed) return;
    bool terminal = focusIsTerminal_ && focusIsTerminal_();
    keys_ = {{kControl, true}};
    if (terminal) keys_.push_back({kShift, true});
    keys_.push_back({kV, true});
    keys_.push_back({kV, false});
    if (terminal) keys_.push_back({kShift, false});
    keys_.push_back({kControl, false});
    failed_ = false;
    sendKey(0);
}

void RemoteDesktopPaste::sendKey(size_t index) {
    if (index == keys_.size()) {
        done(!failed_);
        return;
    }
    struct Call {
        RemoteDesktopPaste* self;
        size_t index;
    };
    const Key& key = keys_[index];
    g_dbus_connection_call(
        bus_.get(), PortalRequests::kService, PortalRequests::kPath, kInterface,
        "NotifyKeyboardKeysym",
        g_variant_new("(o@a{sv}iu)", session_.c_str(), noOptions(), static_cast<gint32>(key.symbol),
                      key.down ? 1u : 0u),
        nullptr, G_DBUS_CALL_FLAGS_NONE, kKeyTimeoutMilliseconds, cancellable_.get(),
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Call> call(static_cast<Call*>(data));
            g_autoptr(GError) error = nullptr;
            g_autoptr(GVariant) reply =
                g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
            // Cancelled: the owner is gone.
            if (error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) return;
            call->self->keyAnswered(call->index, reply != nullptr);
        },
        new Call{this, index});
}

void RemoteDesktopPaste::keyAnswered(size_t index, bool ok) {
    Key key = keys_[index];
    auto held = std::find(held_.begin(), held_.end(), key.symbol);
    // A press that failed may still have gone in: it counts as held.
    if (key.down && held == held_.end()) held_.push_back(key.symbol);
    if (!key.down && ok && held != held_.end()) held_.erase(held);
    if (!ok && !failed_) {
        // The rest of the shortcut is dropped; what may be held is let go.
        failed_ = true;
        keys_.resize(index + 1);
        for (auto symbol = held_.rbegin(); symbol != held_.rend(); ++symbol)
            keys_.push_back({*symbol, false});
    }
    sendKey(index + 1);
}

void RemoteDesktopPaste::done(bool sent) {
    keys_.clear();
    if (!sent) {
        // A session that failed a key is not trusted with the next: the
        // next paste asks for a new one, and closing this one ends its keyboard.
        held_.clear();
        requests_.reset();
        PortalRequests::closeSession(bus_.get(), std::exchange(session_, ""));
        state_ = State::unasked;
    }
    Sent first = std::move(waiting_.front());
    waiting_.pop_front();
    if (first) first(sent);
    if (state_ == State::unasked && !waiting_.empty()) {
        for (auto waiting = std::exchange(waiting_, {}); !waiting.empty(); waiting.pop_front())
            if (waiting.front()) waiting.front()(false);
        return;
    }
    sendNext();
}

}  // namespace velvox
