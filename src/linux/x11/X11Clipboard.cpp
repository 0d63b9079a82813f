#include "linux/x11/X11Clipboard.h"

#include <X11/Xatom.h>
#include <X11/extensions/Xfixes.h>

#include <poll.h>
#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
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

// What a snapshot reader gathered: the targets that answered, with bytes.
struct RawSnapshot {
    std::vector<std::pair<Atom, Bytes>> targets;
    bool complete = true;
};

// Reads the whole clipboard on a connection of this thread's own: the list
// of targets, then every target at once, each into a property of its own,
// large ones in chunks. Stops at the deadline with what has answered.
RawSnapshot readClipboard(const std::string& displayName, double boundSeconds) {
    RawSnapshot result;
    auto deadline = SteadyClock::now() + std::chrono::duration_cast<SteadyClock::duration>(
                                             std::chrono::duration<double>(boundSeconds));
    // Protocol errors here (an owner that lists a target that does not
    // exist) concern nobody: the connection swallows them.
    auto connection = x11::Connection::open(displayName);
    if (!connection) {
        result.complete = false;
        return result;
    }
    Display* display = connection->display();
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    Window window = XCreateWindow(display, DefaultRootWindow(display), -10, -10, 1, 1, 0, 0,
                                  InputOnly, CopyFromParent, CWEventMask, &attributes);
    Atom clipboard = XInternAtom(display, "CLIPBOARD", False);
    Atom targetsAtom = XInternAtom(display, "TARGETS", False);
    Atom incr = XInternAtom(display, "INCR", False);

    auto nextEvent = [&](XEvent& event) {
        while (!XPending(display)) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                              SteadyClock::now());
            if (left.count() <= 0) return false;
            pollfd descriptor{connection->fileDescriptor(), POLLIN, 0};
            poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
        }
        XNextEvent(display, &event);
        return true;
    };
    struct Value {
        Atom type = None;
        int format = 0;
        Bytes bytes;
    };
    auto take = [&](Atom property) {
        Value value;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, window, property, 0, LONG_MAX / 4, True, AnyPropertyType,
                               &value.type, &value.format, &count, &remaining, &data) == Success &&
            data) {
            size_t unit = value.format == 8 ? 1 : value.format == 16 ? sizeof(short) : sizeof(long);
            value.bytes.assign(reinterpret_cast<char*>(data), count * unit);
        }
        if (data) XFree(data);
        return value;
    };

    struct Pending {
        Atom target;
        Atom property;
        bool incremental = false;
        bool done = false;
        bool answered = false;
        Bytes bytes;
    };
    std::vector<Pending> pending;
    Atom listProperty = XInternAtom(display, "VELVOX_TARGETS", False);
    XConvertSelection(display, clipboard, targetsAtom, listProperty, window, CurrentTime);
    XFlush(display);
    XEvent event;
    bool listed = false;
    while (!listed && nextEvent(event)) {
        if (event.type != SelectionNotify || event.xselection.target != targetsAtom) continue;
        listed = true;
        if (event.xselection.property == None) break;
        Value list = take(listProperty);
        if (list.format != 32) break;
        const auto* atoms = reinterpret_cast<const long*>(list.bytes.data());
        for (size_t i = 0; i < list.bytes.size() / sizeof(long); ++i) {
            Atom target = static_cast<Atom>(atoms[i]);
            bool seen = std::any_of(pending.begin(), pending.end(),
                                    [&](const Pending& entry) { return entry.target == target; });
            if (target == None || seen) continue;
            std::string name = "VELVOX_T" + std::to_string(pending.size());
            pending.push_back({target, XInternAtom(display, name.c_str(), False)});
        }
    }
    if (!listed) result.complete = false;
    // Protocol targets are not content; the main thread knows their names.
    for (const auto& entry : pending) {
        XConvertSelection(display, clipboard, entry.target, entry.property, window, CurrentTime);
    }
    XFlush(display);
    auto open = [&] {
        return std::any_of(pending.begin(), pending.end(),
                           [](const Pending& entry) { return !entry.done; });
    };
    while (open() && nextEvent(event)) {
        if (event.type == SelectionNotify) {
            for (auto& entry : pending) {
                if (entry.done || entry.incremental || entry.target != event.xselection.target)
                    continue;
                if (event.xselection.property == None) {
                    entry.done = true;  // refused: nothing to keep, nothing missing
                } else {
                    Value value = take(entry.property);
                    if (value.type == incr) {
                        entry.incremental = true;
                    } else {
                        entry.done = true;
                        entry.answered = value.format == 8 && value.type != None;
                        entry.bytes = std::move(value.bytes);
                    }
                }
                break;
            }
        } else if (event.type == PropertyNotify && event.xproperty.state == PropertyNewValue) {
            for (auto& entry : pending) {
                if (entry.done || !entry.incremental || entry.property != event.xproperty.atom)
                    continue;
                Value chunk = take(entry.property);
                if (chunk.bytes.empty()) {
                    entry.done = true;
                    entry.answered = true;
                } else {
                    entry.bytes += chunk.bytes;
                }
                break;
            }
        }
    }
    for (auto& entry : pending) {
        if (!entry.done) result.complete = false;
        if (entry.answered) result.targets.emplace_back(entry.target, std::move(entry.bytes));
    }
    XDestroyWindow(display, window);
    return result;
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
      timeoutSeconds_(conversionTimeoutSeconds) {
    XSetWindowAttributes attributes{};
    attributes.event_mask = PropertyChangeMask;
    window_ = XCreateWindow(display_, DefaultRootWindow(display_), -10, -10, 1, 1, 0, 0, InputOnly,
                            CopyFromParent, CWEventMask, &attributes);
    clipboard_ = atom("CLIPBOARD");
    targets_ = atom("TARGETS");
    multiple_ = atom("MULTIPLE");
    timestamp_ = atom("TIMESTAMP");
    saveTargets_ = atom("SAVE_TARGETS");
    delete_ = atom("DELETE");
    incr_ = atom("INCR");
    utf8_ = atom("UTF8_STRING");
    string_ = XA_STRING;
    text_ = atom("TEXT");
    transferProperty_ = atom("VELVOX_SELECTION");
    timeProperty_ = atom("VELVOX_TIME");

    int major = 5, minor = 0;
    XFixesQueryVersion(display_, &major, &minor);
    XFixesSelectSelectionInput(display_, window_, clipboard_,
                               XFixesSetSelectionOwnerNotifyMask |
                                   XFixesSelectionWindowDestroyNotifyMask |
                                   XFixesSelectionClientCloseNotifyMask);

    // Chunks stay well inside the largest request the server takes.
    long maxRequest = XExtendedMaxRequestSize(display_);
    if (maxRequest == 0) maxRequest = XMaxRequestSize(display_);
    chunkSize_ = static_cast<size_t>(std::min<long>(256 * 1024, maxRequest * 4 - 1024));

    connection_->watch([this] { processPending(); });
    XSync(display_, False);
}

X11Clipboard::~X11Clipboard() {
    XDestroyWindow(display_, window_);
}

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
    if (char* text = XGetAtomName(display_, value)) {
        name = text;
        XFree(text);
    }
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
                    (notify.owner == window_ || notify.owner == None);
        auto own = ownSets_.find(notify.selection_timestamp);
        if (ours && own != ownSets_.end()) {
            // Our own set, already counted when it was made.
            ownSets_.erase(own);
            return;
        }
        ++count_;
        if (notify.owner != window_) offer_.reset();
        return;
    }
    switch (event.type) {
        case SelectionRequest:
            serve(event.xselectionrequest);
            break;
        case SelectionClear:
            if (event.xselectionclear.selection == clipboard_ && offer_ &&
                event.xselectionclear.time >= offer_->since) {
                offer_.reset();
            }
            break;
        case PropertyNotify:
            if (event.xproperty.window != window_ && event.xproperty.state == PropertyDelete) {
                continueTransfer(event.xproperty);
            }
            break;
        default:
            break;
    }
}

void X11Clipboard::serve(const XSelectionRequestEvent& request) {
    XSelectionEvent reply{};
    reply.type = SelectionNotify;
    reply.display = display_;
    reply.requestor = request.requestor;
    reply.selection = request.selection;
    reply.target = request.target;
    reply.time = request.time;
    reply.property = None;
    // Old clients name no property; the target then serves as one.
    Atom property = request.property == None ? request.target : request.property;

    x11::ErrorTrap trap(display_);
    bool current = offer_ && request.selection == clipboard_ &&
                   (request.time == CurrentTime || request.time >= offer_->since);
    if (current && request.target == targets_) {
        std::vector<long> list = {static_cast<long>(targets_), static_cast<long>(timestamp_)};
        for (const auto& [target, bytes] : offer_->targets)
            list.push_back(static_cast<long>(target));
        XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(list.data()),
                        static_cast<int>(list.size()));
        reply.property = property;
    } else if (current && request.target == timestamp_) {
        long since = static_cast<long>(offer_->since);
        XChangeProperty(display_, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                        reinterpret_cast<unsigned char*>(&since), 1);
        reply.property = property;
    } else if (current) {
        auto found = std::find_if(offer_->targets.begin(), offer_->targets.end(),
                                  [&](const auto& entry) { return entry.first == request.target; });
        if (found != offer_->targets.end()) {
            Atom type = request.target == text_ ? utf8_ : request.target;
            const Bytes& bytes = found->second;
            if (bytes.size() > chunkSize_) {
                // Too large for one request: announce the size, then send
                // chunks as the requestor deletes the property.
                XSelectInput(display_, request.requestor, PropertyChangeMask);
                long size = static_cast<long>(bytes.size());
                XChangeProperty(display_, request.requestor, property, incr_, 32, PropModeReplace,
                                reinterpret_cast<unsigned char*>(&size), 1);
                transfers_.push_back({request.requestor, property, type, bytes, 0});
            } else {
                XChangeProperty(display_, request.requestor, property, type, 8, PropModeReplace,
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
            }
            reply.property = property;
        }
    }
    XEvent event{};
    event.xselection = reply;
    XSendEvent(display_, request.requestor, False, NoEventMask, &event);
    if (!trap.succeeded()) {
        // The requestor went away: nothing more to send it.
        std::erase_if(transfers_, [&](const Transfer& transfer) {
            return transfer.requestor == request.requestor;
        });
    }
}

void X11Clipboard::continueTransfer(const XPropertyEvent& event) {
    auto found = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& transfer) {
        return transfer.requestor == event.window && transfer.property == event.atom;
    });
    if (found == transfers_.end()) return;
    x11::ErrorTrap trap(display_);
    size_t length = std::min(chunkSize_, found->data.size() - found->offset);
    XChangeProperty(display_, found->requestor, found->property, found->type, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(found->data.data() + found->offset),
                    static_cast<int>(length));
    found->offset += length;
    // The zero-length chunk that ends the transfer has just been written.
    bool done = length == 0;
    if (done || !trap.succeeded()) {
        XSelectInput(display_, found->requestor, NoEventMask);
        transfers_.erase(found);
    }
    XFlush(display_);
}

bool X11Clipboard::waitFor(const std::function<bool(XEvent&)>& wanted, XEvent& found,
                           std::optional<double> boundSeconds) {
    auto deadline = SteadyClock::now() +
                    std::chrono::duration_cast<SteadyClock::duration>(
                        std::chrono::duration<double>(boundSeconds.value_or(timeoutSeconds_)));
    while (true) {
        while (XPending(display_)) {
            XNextEvent(display_, &found);
            if (wanted(found)) return true;
            handle(found);
        }
        auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (left.count() <= 0) return false;
        pollfd descriptor{connection_->fileDescriptor(), POLLIN, 0};
        poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
    }
}

std::optional<X11Clipboard::Property> X11Clipboard::fetch(Atom target, FetchFailure* failure) {
    *failure = FetchFailure::refused;
    XDeleteProperty(display_, window_, transferProperty_);
    XConvertSelection(display_, clipboard_, target, transferProperty_, window_, CurrentTime);
    XEvent event;
    bool answered = waitFor(
        [&](XEvent& candidate) {
            return candidate.type == SelectionNotify && candidate.xselection.requestor == window_ &&
                   candidate.xselection.selection == clipboard_ &&
                   candidate.xselection.target == target;
        },
        event);
    if (!answered) {
        *failure = FetchFailure::timedOut;
        return std::nullopt;
    }
    if (event.xselection.property == None) return std::nullopt;

    auto read = [&]() -> std::optional<Property> {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display_, window_, transferProperty_, 0, LONG_MAX / 4, True,
                               AnyPropertyType, &type, &format, &count, &remaining,
                               &data) != Success) {
            return std::nullopt;
        }
        Property property{type, format, {}};
        size_t unit = format == 8 ? 1 : format == 16 ? sizeof(short) : sizeof(long);
        if (data) property.bytes.assign(reinterpret_cast<char*>(data), count * unit);
        if (data) XFree(data);
        return property;
    };
    auto first = read();
    if (!first || first->type == None) return std::nullopt;
    if (first->type != incr_) return first;

    // INCR: each new value of the property is the next chunk; an empty one ends it.
    Property whole{None, 8, {}};
    while (true) {
        bool more = waitFor(
            [&](XEvent& candidate) {
                return candidate.type == PropertyNotify && candidate.xproperty.window == window_ &&
                       candidate.xproperty.atom == transferProperty_ &&
                       candidate.xproperty.state == PropertyNewValue;
            },
            event);
        if (!more) {
            *failure = FetchFailure::timedOut;
            return std::nullopt;
        }
        auto chunk = read();
        if (!chunk) return std::nullopt;
        if (chunk->bytes.empty()) break;
        whole.type = chunk->type;
        whole.format = chunk->format;
        whole.bytes += chunk->bytes;
    }
    return whole;
}

Time X11Clipboard::serverTime() {
    // A zero-length append changes nothing but makes the server report its time.
    XChangeProperty(display_, window_, timeProperty_, XA_ATOM, 32, PropModeAppend, nullptr, 0);
    XEvent event;
    if (waitFor(
            [&](XEvent& candidate) {
                return candidate.type == PropertyNotify && candidate.xproperty.window == window_ &&
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
    return offer_.has_value() && XGetSelectionOwner(display_, clipboard_) == window_;
}

std::vector<std::vector<std::string>> X11Clipboard::itemTypes() {
    changeCount();
    std::vector<std::string> types;
    if (offer_) {
        for (const auto& [target, bytes] : offer_->targets) types.push_back(atomName(target));
        return {types};
    }
    if (XGetSelectionOwner(display_, clipboard_) == None || ownerIsUnresponsive()) return {};
    FetchFailure failure;
    auto list = fetch(targets_, &failure);
    if (!list) {
        if (failure == FetchFailure::timedOut) unresponsiveAtCount_ = count_;
        return {};
    }
    if (list->format != 32) return {};
    const auto* atoms = reinterpret_cast<const long*>(list->bytes.data());
    size_t count = list->bytes.size() / sizeof(long);
    for (size_t i = 0; i < count; ++i) {
        std::string name = atomName(static_cast<Atom>(atoms[i]));
        if (name.empty()) continue;
        if (std::find(std::begin(kProtocolTargets), std::end(kProtocolTargets), name) !=
            std::end(kProtocolTargets)) {
            continue;
        }
        if (std::find(types.begin(), types.end(), name) == types.end()) types.push_back(name);
    }
    if (types.empty()) return {};
    return {types};
}

std::optional<Bytes> X11Clipboard::data(size_t itemIndex, const std::string& type) {
    if (itemIndex != 0) return std::nullopt;
    changeCount();
    Atom target = atom(type);
    if (offer_) {
        for (const auto& [offered, bytes] : offer_->targets) {
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
    FetchFailure failure;
    auto property = fetch(target, &failure);
    if (!property) {
        if (failure == FetchFailure::timedOut) unresponsiveAtCount_ = count_;
        return std::nullopt;
    }
    // Only byte data can be handed back unchanged.
    if (property->format != 8) return std::nullopt;
    return property->bytes;
}

void X11Clipboard::takeSnapshot(double boundSeconds, std::function<void(PasteboardSnapshot)> done) {
    changeCount();
    PasteboardSnapshot snapshot;
    if (offer_ || XGetSelectionOwner(display_, clipboard_) == None) {
        // Our own content, or none: nothing to ask anyone.
        if (offer_) {
            PasteboardItem item;
            for (const auto& [target, bytes] : offer_->targets)
                item.representations.push_back({atomName(target), bytes});
            snapshot.items.push_back(std::move(item));
        }
        return done(std::move(snapshot));
    }
    std::weak_ptr<X11Clipboard> weak = weak_from_this();
    std::thread([weak, name = std::string(DisplayString(display_)), boundSeconds,
                 done = std::move(done)]() mutable {
        auto raw = readClipboard(name, boundSeconds);
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
    if (!offer_ || XGetSelectionOwner(display_, clipboard_) != window_ ||
        XGetSelectionOwner(display_, manager) == None) {
        return;
    }
    std::vector<long> list;
    for (const auto& [target, bytes] : offer_->targets) list.push_back(static_cast<long>(target));
    Atom property = atom("VELVOX_SAVE_TARGETS");
    XChangeProperty(display_, window_, property, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(list.data()), static_cast<int>(list.size()));
    XConvertSelection(display_, manager, saveTargets_, property, window_, serverTime());
    XEvent event;
    // The manager reads every target from us meanwhile: waitFor serves it.
    waitFor(
        [&](XEvent& candidate) {
            return candidate.type == SelectionNotify && candidate.xselection.requestor == window_ &&
                   candidate.xselection.selection == manager;
        },
        event, kManagerSaveSeconds);
}

void X11Clipboard::setItems(const std::vector<PasteboardItem>& items) {
    changeCount();
    Offer offer;
    if (!items.empty()) {
        auto has = [&](Atom target) {
            return std::any_of(offer.targets.begin(), offer.targets.end(),
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
            offer.targets.emplace_back(target, representation.data);
            if (representation.type == PasteboardType::plainText && !carriesX11Text) {
                // The names X11 clients ask for text by.
                offer.targets.emplace_back(utf8_, representation.data);
                gsize written = 0;
                gchar* latin1 = g_convert_with_fallback(
                    representation.data.data(), static_cast<gssize>(representation.data.size()),
                    "ISO-8859-1", "UTF-8", "?", nullptr, &written, nullptr);
                offer.targets.emplace_back(string_, latin1 ? Bytes(latin1, written) : Bytes());
                g_free(latin1);
                offer.targets.emplace_back(text_, representation.data);
            }
        }
    }

    Time now = serverTime();
    if (offer.targets.empty()) {
        offer_.reset();
        XSetSelectionOwner(display_, clipboard_, None, now);
    } else {
        offer.since = now;
        offer_ = std::move(offer);
        XSetSelectionOwner(display_, clipboard_, window_, now);
        if (XGetSelectionOwner(display_, clipboard_) != window_) {
            // Someone set the selection with a later time stamp: theirs stands.
            offer_.reset();
            return;
        }
    }
    ownSets_.insert(now);
    ++count_;
    XFlush(display_);
}

}  // namespace velvox
