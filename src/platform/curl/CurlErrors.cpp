#include "platform/curl/CurlErrors.h"

#include <string>

namespace velvox {

TransportError transportErrorFor(CURLcode code) {
    using Kind = TransportError::Kind;
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return {Kind::timedOut, "The request timed out."};
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return {Kind::cannotFindHost,
                    "A server with the specified hostname could not be found."};
        case CURLE_COULDNT_CONNECT:
            return {Kind::cannotConnect, "Could not connect to the server."};
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
        case CURLE_WEIRD_SERVER_REPLY:
            return {Kind::connectionLost, "The network connection was lost."};
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ENGINE_INITFAILED:
            return {Kind::secureConnectionFailed,
                    "An SSL error has occurred and a secure connection to the server cannot be "
                    "made."};
        case CURLE_WRITE_ERROR:  // only ever over the request's limit
            return {Kind::other, "The answer was too large."};
        case CURLE_URL_MALFORMAT:
        case CURLE_UNSUPPORTED_PROTOCOL:
            return {Kind::invalidRequest, "The address of the request is not supported."};
        default:
            return {Kind::other,
                    std::string("The request failed (") + curl_easy_strerror(code) + ")."};
    }
}

}  // namespace velvox
