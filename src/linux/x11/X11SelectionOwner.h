#pragma once

#include <X11/Xlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace velvox::x11 {

// Holds a selection for a window of ours and serves its content to whoever
// asks: the list of targets, the time it was taken, and each target's bytes,
// in one piece or, when larger than a request may carry, in chunks as the
// requestor takes them (INCR).
class SelectionOwner {
  public:
    struct Offer {
        std::vector<std::pair<Atom, std::string>> targets;
        Time since = CurrentTime;
    };

    SelectionOwner(Display* display, Window window, Atom selection);
    SelectionOwner(const SelectionOwner&) = delete;
    SelectionOwner& operator=(const SelectionOwner&) = delete;

    // Takes the selection with these targets as of time at; false when a
    // client set it with a later time stamp, whose content then stands.
    bool take(std::vector<std::pair<Atom, std::string>> targets, Time at);
    // Leaves the selection empty as of time at.
    void clear(Time at);
    // Another client has taken the selection: our content is no longer offered.
    void forget() { offer_.reset(); }

    // The content we offer, while the selection is ours.
    const std::optional<Offer>& offer() const { return offer_; }
    // Whether the server names our window as the selection's owner, with
    // content of ours.
    bool owns();

    // Answers the requests to the selection and carries chunked transfers
    // on; other events pass unnoticed.
    void handle(const XEvent& event);

  private:
    // A large value sent in chunks, one each time the requestor deletes the
    // property.
    struct Transfer {
        Window requestor;
        Atom property;
        Atom type;
        std::string data;
        size_t offset = 0;
    };

    void serve(const XSelectionRequestEvent& request);
    void continueTransfer(const XPropertyEvent& event);

    Display* display_;
    Window window_;
    Atom selection_;
    Atom targets_, timestamp_, incr_, utf8_, text_;
    size_t chunkSize_;
    std::optional<Offer> offer_;
    std::vector<Transfer> transfers_;
};

}  // namespace velvox::x11
