#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velvox::service {

using HeaderLines = std::vector<std::pair<std::string, std::string>>;

// A request as the routes see it: its header lines in the order they came (a
// name may repeat), the body whole, and the address of the peer.
struct HttpRequest {
    std::string method;
    std::string path;   // decoded, without the query
    std::string query;  // after the '?', still encoded
    HeaderLines headers;
    std::string body;
    std::string remoteAddress;

    // Header names are compared without regard to case.
    size_t headerCount(std::string_view name) const;
    bool hasHeader(std::string_view name) const { return headerCount(name) > 0; }
    // The value of the `index`th line named `name`, "" when there is none.
    std::string header(std::string_view name, size_t index = 0) const;
    // A field of the query or, for a form post, of the body.
    std::string param(std::string_view name) const;
    // The content of the part named `name` of a multipart/form-data body;
    // nothing when the body is not one, is malformed, or has no such part.
    std::optional<std::string> formPart(std::string_view name) const;
    bool isMultipart() const;
};

struct HttpResponse {
    int status = 200;
    HeaderLines headers;
    std::string body;

    void setHeader(std::string name, std::string value);
    std::string header(std::string_view name) const;
    void setContent(std::string content, std::string type);
    void redirect(const std::string& url);
};

// A request as its head names it: the path decoded, the query apart.
HttpRequest requestFromHead(std::string method, std::string_view target, HeaderLines headers);

// The status that refuses a request for its framing, judged on the head
// alone (0: none): 400 for two lengths, a length beside a transfer coding, a
// coding other than chunks; 413 for a declared length over `bodyLimit`.
int framingRefusal(const HttpRequest& request, size_t bodyLimit);

// The named parts of a multipart/form-data body with this boundary, in order;
// nothing when it is malformed or has more than `maxParts` parts.
std::optional<std::vector<std::pair<std::string, std::string>>> multipartParts(
    std::string_view body, std::string_view boundary, size_t maxParts = 32);

}  // namespace velvox::service
