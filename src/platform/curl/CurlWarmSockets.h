#pragma once

#include <curl/curl.h>
#include <sys/socket.h>
#include <chrono>
#include <optional>
#include <set>
#include <vector>

namespace velvox {

// TCP connections opened ahead of a request (warm-up) and handed to the next
// transfer that wants a connection to the same address. curl cannot reuse a
// connection it made in connect-only mode, so the warm-up's socket is taken
// back when curl lets go of it and given to the next transfer as already
// connected. Used on the network thread only.
class CurlWarmSockets {
  public:
    using Moment = std::chrono::steady_clock::time_point;

    ~CurlWarmSockets();

    // Keeps a connected socket; closes it when it is not connected.
    void keep(curl_socket_t socket, Moment now);
    // A kept, still healthy socket connected to the address, or CURL_SOCKET_BAD.
    curl_socket_t take(const sockaddr* address, socklen_t length, Moment now);
    // Answers true once for a socket handed out by take().
    bool wasHandedOut(curl_socket_t socket);
    // Closes sockets kept too long or closed by the peer.
    void prune(Moment now);

    size_t count() const { return kept_.size(); }
    // When the oldest kept socket is due to be closed; nothing when none is kept.
    std::optional<Moment> nextExpiry() const;

    // A kept socket older than this is closed: servers drop idle connections.
    static constexpr std::chrono::seconds maximumAge{60};
    static constexpr size_t maximumCount = 8;

  private:
    struct Kept {
        curl_socket_t socket;
        sockaddr_storage peer;
        socklen_t peerLength;
        Moment since;
    };
    std::vector<Kept> kept_;
    std::set<curl_socket_t> handedOut_;
};

}  // namespace velvox
