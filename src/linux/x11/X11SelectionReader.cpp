#include "linux/x11/X11SelectionReader.h"

#include <algorithm>
#include <climits>

#include "linux/x11/XOwned.h"

namespace velvox::x11 {

struct SelectionReader::Pending {
    Atom target;
    Atom property;
    bool incremental = false;
    bool done = false;
    Value value;
};

SelectionReader::SelectionReader(Connection& connection, Window requestor, Atom selection,
                                 std::function<void(XEvent&)> others)
    : connection_(connection),
      display_(connection.display()),
      requestor_(requestor),
      selection_(selection),
      incr_(XInternAtom(display_, "INCR", False)),
      others_(std::move(others)) {}

Atom SelectionReader::property(size_t slot) {
    while (properties_.size() <= slot) {
        std::string name = "VELVOX_SELECTION";
        if (!properties_.empty()) name += "_" + std::to_string(properties_.size());
        properties_.push_back(XInternAtom(display_, name.c_str(), False));
    }
    return properties_[slot];
}

SelectionReader::Value SelectionReader::take(Atom property) {
    // Deleting the property as it is read is what asks an incremental
    // owner for the next chunk.
    Value value;
    auto read = getProperty(display_, requestor_, property, LONG_MAX / 4, true, AnyPropertyType);
    if (!read || read->type == None) {
        value.outcome = Outcome::refused;
        return value;
    }
    value.outcome = Outcome::answered;
    value.type = read->type;
    value.format = read->format;
    if (read->data)
        value.bytes.assign(reinterpret_cast<char*>(read->data.get()), read->byteLength());
    return value;
}

bool SelectionReader::answer(const XEvent& event, std::vector<Pending>& pending) {
    if (event.type == SelectionNotify) {
        const auto& notify = event.xselection;
        if (notify.requestor != requestor_ || notify.selection != selection_) return false;
        auto entry = std::find_if(pending.begin(), pending.end(), [&](const Pending& candidate) {
            return !candidate.done && !candidate.incremental && candidate.target == notify.target;
        });
        if (entry == pending.end()) return false;
        if (notify.property == None) {
            entry->done = true;
            entry->value.outcome = Outcome::refused;
            return true;
        }
        Value value = take(entry->property);
        if (value.outcome == Outcome::answered && value.type == incr_) {
            // The size announced ahead: the chunks follow as new values of
            // the property, an empty one last.
            entry->incremental = true;
            entry->value = Value{Outcome::timedOut, None, 8, {}};
        } else {
            entry->done = true;
            entry->value = std::move(value);
        }
        return true;
    }
    if (event.type == PropertyNotify) {
        const auto& change = event.xproperty;
        if (change.window != requestor_ || change.state != PropertyNewValue) return false;
        auto entry = std::find_if(pending.begin(), pending.end(), [&](const Pending& candidate) {
            return !candidate.done && candidate.incremental && candidate.property == change.atom;
        });
        if (entry == pending.end()) return false;
        Value chunk = take(entry->property);
        if (chunk.outcome != Outcome::answered) {
            entry->done = true;
            entry->value = std::move(chunk);
        } else if (chunk.bytes.empty()) {
            entry->done = true;
            entry->value.outcome = Outcome::answered;
        } else {
            entry->value.type = chunk.type;
            entry->value.format = chunk.format;
            entry->value.bytes += chunk.bytes;
        }
        return true;
    }
    return false;
}

std::vector<SelectionReader::Value> SelectionReader::read(const std::vector<Atom>& targets,
                                                          const Bound& bound) {
    std::vector<Pending> pending;
    for (Atom target : targets) {
        Atom into = property(pending.size());
        // A late answer to an earlier read must not pass for this one's.
        XDeleteProperty(display_, requestor_, into);
        XConvertSelection(display_, selection_, target, into, requestor_, CurrentTime);
        pending.push_back({target, into});
    }
    XFlush(display_);
    auto open = [&] {
        return std::any_of(pending.begin(), pending.end(),
                           [](const Pending& entry) { return !entry.done; });
    };
    auto lastAnswer = Clock::now();
    while (open()) {
        auto deadline = bound.end;
        if (bound.quiet) deadline = std::min(deadline, lastAnswer + *bound.quiet);
        XEvent event;
        if (!connection_.nextEvent(event, deadline)) break;
        if (answer(event, pending)) {
            lastAnswer = Clock::now();
        } else if (others_) {
            others_(event);
        }
    }
    std::vector<Value> values;
    for (auto& entry : pending) values.push_back(entry.done ? std::move(entry.value) : Value{});
    return values;
}

SelectionReader::Value SelectionReader::read(Atom target, const Bound& bound) {
    return std::move(read(std::vector<Atom>{target}, bound).front());
}

std::vector<Atom> SelectionReader::atomsOf(const Value& list) {
    std::vector<Atom> atoms;
    if (list.outcome != Outcome::answered || list.format != 32) return atoms;
    const auto* items = reinterpret_cast<const long*>(list.bytes.data());
    for (size_t i = 0; i < list.bytes.size() / sizeof(long); ++i) {
        auto atom = static_cast<Atom>(items[i]);
        if (atom != None && std::find(atoms.begin(), atoms.end(), atom) == atoms.end())
            atoms.push_back(atom);
    }
    return atoms;
}

SelectionContent readWholeSelection(const std::string& displayName,
                                    const std::string& selectionName, double boundSeconds) {
    SelectionContent content;
    SelectionReader::Bound bound;
    bound.end = SelectionReader::Clock::now() +
                std::chrono::duration_cast<SelectionReader::Clock::duration>(
                    std::chrono::duration<double>(boundSeconds));
    // Protocol errors here (an owner that lists a target that does not
    // exist) concern nobody: the connection swallows them.
    auto connection = Connection::open(displayName);
    if (!connection) {
        content.complete = false;
        return content;
    }
    Display* display = connection->display();
    auto window = OwnedWindow::hidden(display);
    SelectionReader reader(*connection, window.get(),
                           XInternAtom(display, selectionName.c_str(), False));
    auto list = reader.read(XInternAtom(display, "TARGETS", False), bound);
    if (list.outcome == SelectionReader::Outcome::timedOut) content.complete = false;
    auto targets = SelectionReader::atomsOf(list);
    auto values = reader.read(targets, bound);
    for (size_t i = 0; i < targets.size(); ++i) {
        if (values[i].outcome == SelectionReader::Outcome::timedOut) content.complete = false;
        // Only byte data can be handed back unchanged.
        if (values[i].outcome == SelectionReader::Outcome::answered && values[i].format == 8)
            content.targets.emplace_back(targets[i], std::move(values[i].bytes));
    }
    return content;
}

}  // namespace velvox::x11
