#include "linux/x11/X11Clipboard.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/Platform.h"

namespace velvox {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long the clipboard manager may take to copy our content at quit.
constexpr double kManagerSaveSeconds = 3.0;

// Targets that belong to the selection protocol, not to the content.
const char* const kProtocolTargets[] = {"TARGETS", "MULTIPLE", "TIMESTAMP", "SAVE_TARGETS",
                                        "DELETE"};

bool isProtocolTarget(const std::string& name) {
    return std::find(std::begin(kProtocolTargets), std::end(kProtocolTargets), name) !=
           std::end(kProtocolTargets);
}

}  // namespace

std::shared_ptr<X11Clipboard> X11Clipboard::create(double conversionTimeoutSeconds) {
    auto connection = x11::Connection::open();
    if (!connection) return nullptr;
    int eventBase = 0, errorBase = 0;
    if (!XFixesQueryExtension(connection->display(), &eventBase, &errorBase)) return nullptr;
    return std::make_shared<X11Clipboard>(std::move(connection), eventBase,
                                          conversionTimeoutSeconds);
}

X11Clipboard::X11Clipboard(std::unique_ptr<x11::Connection> connection, int fixesEventBase,
                           double conversionTimeoutSeconds)
    : connection_(std::move(connection)),
      display_(connection_->display()),
      fixesEventBase_(fixesEventBase),
      timeoutSeconds_(conversionTimeoutSeconds),
      clipboard_(atom("CLIPBOARD")),
      targets_(atom("TARGETS")),
      saveTargets_(atom("SAVE_TARGETS")),
      utf8_(atom("UTF8_STRING")),
      string_(XA_STRING),
      text_(atom("TEXT")),
      timeProperty_(atom("VELVOX_TIME")),
      window_(x11::OwnedWindow::hidden(display_)),
      owner_(display_, window_.get(), clipboard_),
      reader_(*connection_, window_.get(), clipboard_, [this](XEvent& event) { handle(event); }) {
    int major = 5, minor = 0;
    XFixesQueryVersion(display_, &major, &minor);
    XFixesSelectSelectionInput(display_, window_.get(), clipboard_,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);
    connection_->watch([this] { processPending(); });
    XSync(display_, False);
}

X11Clipboard::~X11Clipboard() = default;

Atom X11Clipboard::atom(const std::string& name) {
    auto found = atoms_.find(name);
    if (found != atoms_.end()) return found->second;
    Atom value = XInternAtom(display_, name.c_str(), False);
    atoms_[name] = value;
    names_[value] = name;
    return value;
}

std::string X11Clipboard::atomName(Atom value) {
    auto found = names_.find(value);
    if (found != names_.end()) return found->second;
    x11::ErrorTrap trap(display_);
    std::string name;
    if (x11::XFreed<char> text{XGetAtomName(display_, value)}) name = text.get();
    if (!trap.succeeded()) name.clear();
    if (!name.empty()) {
        names_[value] = name;
        atoms_[name] = value;
    }
    return name;
}

void X11Clipboard::processPending() {
    while (XPending(display_)) {
        XEvent event;
        XNextEvent(display_, &event);
        handle(event);
    }
}

void X11Clipboard::handle(XEvent& event) {
    if (event.type == fixesEventBase_ + XFixesSelectionNotify) {
        auto& notify = reinterpret_cast<XFixesSelectionNotifyEvent&>(event);
        if (notify.selection != clipboard_) return;
        bool ours = notify.subtype == XFixesSetSelectionOwnerNotify &&
                    (notify.owner == window_.get() || notify.owner == None);
        auto own = ownSets_.find(notify.selection_timestamp);
        if (ours && own != ownSets_.end()) {
            // Our own set, already counted when it was made.
            ownSets_.erase(own);
            return;
        }
        ++count_;
        if (notify.owner != window_.get()) owner_.forget();
        return;
    }
    owner_.handle(event);
}

bool X11Clipboard::waitFor(const std::function<bool(XEvent&)>& wanted, XEvent& found,
                           std::optional<double> boundSeconds) {
    auto deadline = SteadyClock::now() +
                    std::chrono::duration_cast<SteadyClock::duration>(
                        std::chrono::duration<double>(boundSeconds.value_or(timeoutSeconds_)));
    while (connection_->nextEvent(found, deadline)) {
        if (wanted(found)) return true;
        handle(found);
    }
    return false;
}

x11::SelectionReader::Value X11Clipboard::fetch(Atom target) {
    x11::SelectionReader::Bound bound;
    bound.quiet = std::chrono::duration_cast<SteadyClock::duration>(
        std::chrono::duration<double>(timeoutSeconds_));
    auto value = reader_.read(target, bound);
    if (value.outcome == x11::SelectionReader::Outcome::timedOut) unresponsiveAtCount_ = count_;
    return value;
}

Time X11Clipboard::serverTime() {
    // A zero-length append changes nothing but makes the server report its time.
    XChangeProperty(display_, window_.get(), timeProperty_, XA_ATOM, 32, PropModeAppend, nullptr,
                    0);
    XEvent event;
    if (waitFor(
            [&](XEvent& candidate) {
                return candidate.type == PropertyNotify &&
                       candidate.xproperty.window == window_.get() &&
                       candidate.xproperty.atom == timeProperty_;
            },
            event)) {
        return event.xproperty.time;
    }
    return CurrentTime;
}

bool X11Clipboard::ownerIsUnresponsive() {
    return unresponsiveAtCount_ && *unresponsiveAtCount_ == count_;
}

int64_t X11Clipboard::changeCount() {
    // After the round trip every owner change the server made so far is in
    // our queue.
    XSync(display_, False);
    processPending();
    return count_;
}

bool X11Clipboard::ownsSelection() {
    changeCount();
    return owner_.owns();
}

std::vector<std::vector<std::string>> X11Clipboard::itemTypes() {
    changeCount();
    std::vector<std::string> types;
    if (const auto& offer = owner_.offer()) {
        for (const auto& [target, bytes] : offer->targets) types.push_back(atomName(target));
        return {types};
    }
    if (XGetSelectionOwner(display_, clipboard_) == None || ownerIsUnresponsive()) return {};
    for (Atom target : x11::SelectionReader::atomsOf(fetch(targets_))) {
        std::string name = atomName(target);
        if (name.empty() || isProtocolTarget(name)) continue;
        if (std::find(types.begin(), types.end(), name) == types.end()) types.push_back(name);
    }
    if (types.empty()) return {};
    return {types};
}

std::optional<Bytes> X11Clipboard::data(size_t itemIndex, const std::string& type) {
    if (itemIndex != 0) return std::nullopt;
    changeCount();
    Atom target = atom(type);
    if (const auto& offer = owner_.offer()) {
        for (const auto& [offered, bytes] : offer->targets) {
            if (offered == target) return bytes;
        }
        return std::nullopt;
    }
    auto bytes = fetchBytes(target);
    // Plain text goes by its X11 name with most owners.
    if (!bytes && type == PasteboardType::plainText) bytes = fetchBytes(utf8_);
    return bytes;
}

std::optional<Bytes> X11Clipboard::fetchBytes(Atom target) {
    if (ownerIsUnresponsive()) return std::nullopt;
    auto value = fetch(target);
    // Only byte data can be handed back unchanged.
    if (value.outcome != x11::SelectionReader::Outcome::answered || value.format != 8)
        return std::nullopt;
    return std::move(value.bytes);
}

void X11Clipboard::takeSnapshot(double boundSeconds, std::function<void(PasteboardSnapshot)> done) {
    changeCount();
    PasteboardSnapshot snapshot;
    const auto& offer = owner_.offer();
    if (offer || XGetSelectionOwner(display_, clipboard_) == None) {
        // Our own content, or none: nothing to ask anyone.
        if (offer) {
            PasteboardItem item;
            for (const auto& [target, bytes] : offer->targets)
                item.representations.push_back({atomName(target), bytes});
            snapshot.items.push_back(std::move(item));
        }
        return done(std::move(snapshot));
    }
    std::weak_ptr<X11Clipboard> weak = weak_from_this();
    std::thread([weak, name = std::string(DisplayString(display_)), boundSeconds,
                 done = std::move(done)]() mutable {
        auto raw = x11::readWholeSelection(name, "CLIPBOARD", boundSeconds);
        Platform::mainQueue().async([weak, raw = std::move(raw), done = std::move(done)] {
            PasteboardSnapshot snapshot;
            snapshot.complete = raw.complete;
            auto self = weak.lock();
            PasteboardItem item;
            for (const auto& [target, bytes] : raw.targets) {
                std::string type = self ? self->atomName(target) : "";
                if (type.empty() || isProtocolTarget(type)) continue;
                item.representations.push_back({type, bytes});
            }
            if (!item.representations.empty()) snapshot.items.push_back(std::move(item));
            done(std::move(snapshot));
        });
    }).detach();
}

void X11Clipboard::handToManager() {
    changeCount();
    Atom manager = atom("CLIPBOARD_MANAGER");
    if (!owner_.owns() || XGetSelectionOwner(display_, manager) == None) return;
    std::vector<long> list;
    for (const auto& [target, bytes] : owner_.offer()->targets)
        list.push_back(static_cast<long>(target));
    Atom property = atom("VELVOX_SAVE_TARGETS");
    XChangeProperty(display_, window_.get(), property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(list.data()), static_cast<int>(list.size()));
    XConvertSelection(display_, manager, saveTargets_, property, window_.get(), serverTime());
    XEvent event;
    // The manager reads every target from us meanwhile: waitFor serves it.
    waitFor(
        [&](XEvent& candidate) {
            return candidate.type == SelectionNotify &&
                   candidate.xselection.requestor == window_.get() &&
                   candidate.xselection.selection == manager;
        },
        event, kManagerSaveSeconds);
}

void X11Clipboard::setItems(const std::vector<PasteboardItem>& items) {
    changeCount();
    std::vector<std::pair<Atom, Bytes>> targets;
    if (!items.empty()) {
        auto has = [&](Atom target) {
            return std::any_of(targets.begin(), targets.end(),
                               [&](const auto& entry) { return entry.first == target; });
        };
        const auto& representations = items.front().representations;
        bool carriesX11Text = std::any_of(
            representations.begin(), representations.end(), [&](const auto& representation) {
                Atom target = atom(representation.type);
                return target == utf8_ || target == string_ || target == text_;
            });
        for (const auto& representation : representations) {
            Atom target = atom(representation.type);
            if (has(target)) continue;
            targets.emplace_back(target, representation.data);
            if (representation.type == PasteboardType::plainText && !carriesX11Text) {
                // The names X11 clients ask for text by.
                targets.emplace_back(utf8_, representation.data);
                gsize written = 0;
                g_autofree gchar* latin1 = g_convert_with_fallback(
                    representation.data.data(), static_cast<gssize>(representation.data.size()),
                    "ISO-8859-1", "UTF-8", "?", nullptr, &written, nullptr);
                targets.emplace_back(string_, latin1 ? Bytes(latin1, written) : Bytes());
                targets.emplace_back(text_, representation.data);
            }
        }
    }

    Time now = serverTime();
    if (targets.empty()) {
        owner_.clear(now);
    } else if (!owner_.take(std::move(targets), now)) {
        // Someone set the selection with a later time stamp: theirs stands.
        return;
    }
    ownSets_.insert(now);
    ++count_;
    XFlush(display_);
}

}  // namespace velvox
