#include "linux/x11/X11SelectionOwner.h"

#include <X11/Xatom.h>

#include <algorithm>

#include "linux/x11/X11Connection.h"

namespace velvox::x11 {

SelectionOwner::SelectionOwner(Display* display, Window window, Atom selection)
    : display_(display),
      window_(window),
      selection_(selection),
      targets_(XInternAtom(display, "TARGETS", False)),
      timestamp_(XInternAtom(display, "TIMESTAMP", False)),
      incr_(XInternAtom(display, "INCR", False)),
      utf8_(XInternAtom(display, "UTF8_STRING", False)),
      text_(XInternAtom(display, "TEXT", False)) {
    // Chunks stay well inside the largest request the server takes.
    long maxRequest = XExtendedMaxRequestSize(display_);
    if (maxRequest == 0) maxRequest = XMaxRequestSize(display_);
    chunkSize_ = static_cast<size_t>(std::min<long>(256 * 1024, maxRequest * 4 - 1024));
}

bool SelectionOwner::take(std::vector<std::pair<Atom, std::string>> targets, Time at) {
    offer_ = Offer{std::move(targets), at};
    XSetSelectionOwner(display_, selection_, window_, at);
    if (XGetSelectionOwner(display_, selection_) != window_) {
        offer_.reset();
        return false;
    }
    return true;
}

void SelectionOwner::clear(Time at) {
    offer_.reset();
    XSetSelectionOwner(display_, selection_, None, at);
}

bool SelectionOwner::owns() {
    return offer_.has_value() && XGetSelectionOwner(display_, selection_) == window_;
}

void SelectionOwner::handle(const XEvent& event) {
    switch (event.type) {
        case SelectionRequest:
            serve(event.xselectionrequest);
            break;
        case SelectionClear:
            if (event.xselectionclear.selection == selection_ && offer_ &&
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

void SelectionOwner::serve(const XSelectionRequestEvent& request) {
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

    ErrorTrap trap(display_);
    bool current = offer_ && request.selection == selection_ &&
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
            const std::string& bytes = found->second;
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

void SelectionOwner::continueTransfer(const XPropertyEvent& event) {
    auto found = std::find_if(transfers_.begin(), transfers_.end(), [&](const Transfer& transfer) {
        return transfer.requestor == event.window && transfer.property == event.atom;
    });
    if (found == transfers_.end()) return;
    ErrorTrap trap(display_);
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

}  // namespace velvox::x11
