#pragma once

#include <functional>
#include <string>
#include <vector>

#include "linux/glib/GlibIds.h"
#include "linux/gst/GstHandles.h"
#include "platform/AudioTake.h"

typedef struct _GstDeviceProvider GstDeviceProvider;
typedef struct _GFileMonitor GFileMonitor;

namespace velvox {

// Follows the sound server: the inputs it offers, from its device provider,
// kept running (the server tells it of every change, so asking costs no round
// trip, and nothing wakes while the devices stay as they are); and, once
// asked to, its comings and goings, through its socket.
// The server makes its socket anew whenever it starts: a socket that went
// away or was made again means every connection to it is dead (its file may
// even get the old one's number, so the events tell, not the file). Between
// two starts of the server nothing happens here, so nothing wakes the
// process while the server runs. Main thread only.
class SoundServerWatch {
  public:
    // What the server's comings and goings mean to the owner; each may be empty.
    struct Events {
        // The server ended or restarted: connections made before are dead.
        std::function<void()> replaced;
        // The server's socket is there after a change: it may be connected to.
        std::function<void()> present;
    };

    // Starts following the inputs at once.
    SoundServerWatch();
    ~SoundServerWatch();
    SoundServerWatch(const SoundServerWatch&) = delete;
    SoundServerWatch& operator=(const SoundServerWatch&) = delete;

    // Watches the server's socket from now on and reports its changes; does
    // nothing where the socket is unknown (a server over the network).
    void followServer(Events events);

    // The inputs that record sound (not the outputs' monitors), in the
    // server's order; empty when none can be listed.
    std::vector<InputDevice> inputDevices();

  private:
    void watchDevices();
    void socketChanged(bool replaced);

    GstOwned<GstDeviceProvider> devices_;
    bool devicesWatched_ = false;

    std::string serverSocket_;
    GOwned<GFileMonitor> socketMonitor_;
    Events events_;
};

}  // namespace velvox
