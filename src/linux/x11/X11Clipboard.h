#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "linux/x11/X11Connection.h"
#include "linux/x11/X11SelectionOwner.h"
#include "linux/x11/X11SelectionReader.h"
#include "linux/x11/XOwned.h"
#include "platform/Pasteboard.h"

namespace velvox {

// The X11 CLIPBOARD selection as a pasteboard of one item. The data lives in
// the owning process, so this keeps its own connection and hidden window,
// served from the GLib main loop: what we set stays available until another
// client takes the selection (the SelectionOwner's part). Reads are
// synchronous, each answer bounded by a time-out so a hung owner cannot
// block the caller for long (the SelectionReader's part). This counts the
// changes and speaks the pasteboard's terms.
class X11Clipboard final : public Pasteboard, public std::enable_shared_from_this<X11Clipboard> {
  public:
    // Nothing when there is no display or it lacks the XFixes extension.
    static std::shared_ptr<X11Clipboard> create(double conversionTimeoutSeconds = 0.3);
    ~X11Clipboard() override;
    X11Clipboard(const X11Clipboard&) = delete;
    X11Clipboard& operator=(const X11Clipboard&) = delete;

    int64_t changeCount() override;
    std::vector<std::vector<std::string>> itemTypes() override;
    std::optional<Bytes> data(size_t itemIndex, const std::string& type) override;
    void setItems(const std::vector<PasteboardItem>& items) override;
    // Reads on a connection and thread of its own, every target at once, so
    // a slow owner costs the main thread nothing.
    void takeSnapshot(double boundSeconds, std::function<void(PasteboardSnapshot)> done) override;
    // The clipboard manager protocol: asks the CLIPBOARD_MANAGER owner to
    // copy every target we offer, serving its requests until it confirms.
    void handToManager() override;

    // Whether our hidden window owns the selection right now.
    bool ownsSelection();

    X11Clipboard(std::unique_ptr<x11::Connection> connection, int fixesEventBase,
                 double conversionTimeoutSeconds);

  private:
    void processPending();
    void handle(XEvent& event);
    bool waitFor(const std::function<bool(XEvent&)>& wanted, XEvent& found,
                 std::optional<double> boundSeconds = std::nullopt);
    // A read of the selection on the main thread: each answer within the
    // conversion time-out of the one before.
    x11::SelectionReader::Value fetch(Atom target);
    std::optional<Bytes> fetchBytes(Atom target);
    Time serverTime();
    bool ownerIsUnresponsive();
    Atom atom(const std::string& name);
    std::string atomName(Atom atom);

    std::unique_ptr<x11::Connection> connection_;
    Display* display_;
    std::map<std::string, Atom> atoms_;
    std::map<Atom, std::string> names_;
    int fixesEventBase_;
    double timeoutSeconds_;
    Atom clipboard_, targets_, saveTargets_, utf8_, string_, text_, timeProperty_;
    x11::OwnedWindow window_;
    x11::SelectionOwner owner_;
    x11::SelectionReader reader_;

    int64_t count_ = 0;
    std::multiset<Time> ownSets_;
    std::optional<int64_t> unresponsiveAtCount_;
};

}  // namespace velvox
