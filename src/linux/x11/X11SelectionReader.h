#pragma once

#include <X11/Xlib.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "linux/x11/X11Connection.h"

namespace velvox::x11 {

// Reads a selection from whichever client owns it: the targets it offers and
// the value of each, a large value in chunks (INCR). The owner writes into
// properties of a window of ours; events that are not its answers go to
// `others`, so that the connection may meanwhile serve a selection of its own.
class SelectionReader {
  public:
    using Clock = std::chrono::steady_clock;
    // How long a read may take: until end in all, and at most quiet between
    // two answers (a large value may take many, each within quiet).
    struct Bound {
        Clock::time_point end = Clock::time_point::max();
        std::optional<Clock::duration> quiet;
    };
    enum class Outcome { answered, refused, timedOut };
    struct Value {
        Outcome outcome = Outcome::timedOut;
        Atom type = None;
        int format = 0;
        std::string bytes;  // format 32 items held as C longs, as Xlib gives them
    };

    SelectionReader(Connection& connection, Window requestor, Atom selection,
                    std::function<void(XEvent&)> others = {});

    // Asks for every target at once, each into a property of its own, and
    // waits until each has answered or refused or the bound has run out.
    // The values come in the order of targets.
    std::vector<Value> read(const std::vector<Atom>& targets, const Bound& bound);
    Value read(Atom target, const Bound& bound);

    // The atoms of an answered TARGETS list, in the owner's order, without
    // None and repeats; none when it did not answer with a list.
    static std::vector<Atom> atomsOf(const Value& list);

  private:
    struct Pending;
    Atom property(size_t slot);
    // Takes in an event that answers one of pending; false when it is
    // someone else's.
    bool answer(const XEvent& event, std::vector<Pending>& pending);
    Value take(Atom property);

    Connection& connection_;
    Display* display_;
    Window requestor_;
    Atom selection_;
    Atom incr_;
    std::function<void(XEvent&)> others_;
    std::vector<Atom> properties_;
};

// A whole selection as read on a thread: the targets that answered with
// bytes, and whether every one of them answered in time.
struct SelectionContent {
    std::vector<std::pair<Atom, std::string>> targets;
    bool complete = true;
};

// Reads every target of the selection at once, on a connection of the
// calling thread's own, stopping after boundSeconds with what has answered.
// Protocol targets are read as any other; the caller knows their names.
SelectionContent readWholeSelection(const std::string& displayName,
                                    const std::string& selectionName, double boundSeconds);

}  // namespace velvox::x11
