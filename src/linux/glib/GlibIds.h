#pragma once

#include <glib-object.h>

#include <memory>

namespace velvox {

// A main-loop source held by its id: removed when this goes or is given another.
// A callback that ends its own source (returning G_SOURCE_REMOVE) calls
// forget() first, since GLib removes it then and the id is no longer valid.
class SourceId {
  public:
    SourceId() = default;
    explicit SourceId(guint id) : id_(id) {}
    ~SourceId() { remove(); }
    SourceId(const SourceId&) = delete;
    SourceId& operator=(const SourceId&) = delete;

    SourceId& operator=(guint id) {
        remove();
        id_ = id;
        return *this;
    }
    explicit operator bool() const { return id_ != 0; }

    void remove() {
        if (id_) g_source_remove(id_);
        id_ = 0;
    }
    void forget() { id_ = 0; }

  private:
    guint id_ = 0;
};

// A signal handler connected to an object: disconnected when this goes or is
// given another. The object must outlive the connection (or forget() it).
class SignalConnection {
  public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id) : instance_(instance), id_(id) {}
    ~SignalConnection() { disconnect(); }
    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    SignalConnection(SignalConnection&& other) noexcept
        : instance_(other.instance_), id_(other.id_) {
        other.forget();
    }
    SignalConnection& operator=(SignalConnection&& other) noexcept {
        if (this != &other) {
            disconnect();
            instance_ = other.instance_;
            id_ = other.id_;
            other.forget();
        }
        return *this;
    }

    void disconnect() {
        if (id_) g_signal_handler_disconnect(instance_, id_);
        forget();
    }
    void forget() {
        instance_ = nullptr;
        id_ = 0;
    }
    // Keeps the handler from running while the object changes by our own hand.
    void block() const {
        if (id_) g_signal_handler_block(instance_, id_);
    }
    void unblock() const {
        if (id_) g_signal_handler_unblock(instance_, id_);
    }

  private:
    gpointer instance_ = nullptr;
    gulong id_ = 0;
};

// A reference to a GObject, dropped when this goes: for object types that
// declare no g_autoptr cleanup (AT-SPI's), and for members.
struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GOwned = std::unique_ptr<T, GObjectUnref>;

// A reference of our own to an object someone else holds.
template <typename T>
GOwned<T> gRef(T* object) {
    return GOwned<T>(static_cast<T*>(g_object_ref(object)));
}

}  // namespace velvox
