#pragma once

#include <gio/gio.h>

#include <bitset>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "linux/glib/GlibIds.h"

namespace velvox {

struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using OwnedVariant = std::unique_ptr<GVariant, VariantUnref>;

// An object of another application on the accessibility bus.
struct RemoteAccessible {
    std::string bus;
    std::string path;
    bool operator==(const RemoteAccessible&) const = default;
};

// A connection of our own to the accessibility bus, and the AT-SPI questions
// asked over it. Every call waits for its answer at most timeoutMs. GDBus
// connections may be used from any thread: the questions that wait on other
// applications are asked from a thread of their own, while the toolkit's own
// accessibility keeps the shared connection of the AT-SPI library on the
// main thread.
class A11yBus {
  public:
    // Nothing when the desktop has no accessibility bus.
    static std::shared_ptr<A11yBus> connect();
    explicit A11yBus(GDBusConnection* connection) : connection_(connection) {}

    // The desktop's root, whose children are the applications.
    static RemoteAccessible desktop();
    // A messaging time-out in the milliseconds of a call; one that is no
    // number is a mistake, bounded at a second all the same.
    static int timeoutMs(double seconds);

    struct Answer {
        OwnedVariant value;  // the reply's tuple; empty when the call failed
        bool timedOut = false;
    };
    Answer call(const RemoteAccessible& object, const char* interface, const char* method,
                GVariant* arguments, const char* replyType, int timeoutMs) const;

    std::optional<uint32_t> role(const RemoteAccessible& object, int timeoutMs) const;
    // The state bits, by AtspiStateType.
    std::optional<std::bitset<64>> states(const RemoteAccessible& object, int timeoutMs) const;
    std::vector<std::string> interfaces(const RemoteAccessible& object, int timeoutMs) const;
    std::vector<RemoteAccessible> children(const RemoteAccessible& object, int timeoutMs) const;
    std::optional<RemoteAccessible> parent(const RemoteAccessible& object, int timeoutMs) const;
    std::optional<int32_t> intProperty(const RemoteAccessible& object, const char* interface,
                                       const char* name, int timeoutMs) const;
    // The process behind the object's connection to the bus; asked once
    // per connection, which never changes hands.
    std::optional<int32_t> processId(const RemoteAccessible& object, int timeoutMs) const;

  private:
    GOwned<GDBusConnection> connection_;
    mutable std::mutex mutex_;
    mutable std::map<std::string, int32_t> processes_;
};

}  // namespace velvox
