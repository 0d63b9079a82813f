#include "platform/curl/CurlWarmSockets.h"

#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <cstring>

namespace velvox {

namespace {

bool samePeer(const sockaddr* a, const sockaddr_storage& b) {
    if (a->sa_family != b.ss_family) return false;
    if (a->sa_family == AF_INET) {
        auto* x = reinterpret_cast<const sockaddr_in*>(a);
        auto* y = reinterpret_cast<const sockaddr_in*>(&b);
        return x->sin_port == y->sin_port && x->sin_addr.s_addr == y->sin_addr.s_addr;
    }
    if (a->sa_family == AF_INET6) {
        auto* x = reinterpret_cast<const sockaddr_in6*>(a);
        auto* y = reinterpret_cast<const sockaddr_in6*>(&b);
        return x->sin6_port == y->sin6_port &&
               std::memcmp(&x->sin6_addr, &y->sin6_addr, sizeof(in6_addr)) == 0;
    }
    return false;
}

// An idle connection on which nothing was asked has nothing to read: any event
// means the peer closed it or broke it.
bool healthy(curl_socket_t socket) {
    pollfd entry{socket, POLLIN | POLLRDHUP, 0};
    return ::poll(&entry, 1, 0) == 0;
}

}  // namespace

CurlWarmSockets::~CurlWarmSockets() {
    for (const auto& kept : kept_) ::close(kept.socket);
}

void CurlWarmSockets::keep(curl_socket_t socket, Moment now) {
    Kept kept{socket, {}, sizeof(sockaddr_storage), now};
    int error = 0;
    socklen_t errorLength = sizeof(error);
    bool connected =
        ::getpeername(socket, reinterpret_cast<sockaddr*>(&kept.peer), &kept.peerLength) == 0 &&
        ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &errorLength) == 0 && error == 0 &&
        healthy(socket);
    if (!connected) {
        ::close(socket);
        return;
    }
    kept_.push_back(kept);
    while (kept_.size() > maximumCount) {
        ::close(kept_.front().socket);
        kept_.erase(kept_.begin());
    }
}

curl_socket_t CurlWarmSockets::take(const sockaddr* address, socklen_t, Moment now) {
    prune(now);
    for (auto it = kept_.begin(); it != kept_.end(); ++it) {
        if (samePeer(address, it->peer)) {
            curl_socket_t socket = it->socket;
            kept_.erase(it);
            handedOut_.insert(socket);
            return socket;
        }
    }
    return CURL_SOCKET_BAD;
}

bool CurlWarmSockets::wasHandedOut(curl_socket_t socket) {
    return handedOut_.erase(socket) > 0;
}

std::optional<CurlWarmSockets::Moment> CurlWarmSockets::nextExpiry() const {
    std::optional<Moment> earliest;
    for (const Kept& kept : kept_) {
        Moment expiry = kept.since + maximumAge;
        if (!earliest || expiry < *earliest) earliest = expiry;
    }
    return earliest;
}

void CurlWarmSockets::prune(Moment now) {
    std::erase_if(kept_, [now](const Kept& kept) {
        if (now - kept.since < maximumAge && healthy(kept.socket)) return false;
        ::close(kept.socket);
        return true;
    });
}

}  // namespace velvox
