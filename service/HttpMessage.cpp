#include "HttpMessage.h"

#include <algorithm>
#include <cctype>

#include "services/Url.h"

namespace velvox::service {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string headerOf(const HeaderLines& lines, std::string_view name, size_t index) {
    for (const auto& [key, value] : lines)
        if (sameName(key, name) && index-- == 0) return value;
    return {};
}

// The value of `name` in a list of name=value pairs joined by '&'.
std::optional<std::string> fieldOf(std::string_view pairs, std::string_view name) {
    while (!pairs.empty()) {
        size_t end = std::min(pairs.find('&'), pairs.size());
        std::string_view pair = pairs.substr(0, end);
        size_t equals = std::min(pair.find('='), pair.size());
        if (percentDecoded(pair.substr(0, equals), true) == name)
            return percentDecoded(pair.substr(std::min(equals + 1, pair.size())), true);
        pairs.remove_prefix(std::min(end + 1, pairs.size()));
    }
    return std::nullopt;
}

// A parameter of a header value such as `multipart/form-data; boundary=x`
// or `form-data; name="file"`; quotes taken off.
std::string parameterOf(std::string_view value, std::string_view name) {
    size_t at = 0;
    while ((at = value.find(';', at)) != std::string_view::npos) {
        std::string_view rest = value.substr(++at);
        size_t skip = rest.find_first_not_of(" \t");
        if (skip == std::string_view::npos) break;
        rest.remove_prefix(skip);
        if (rest.size() > name.size() && rest[name.size()] == '=' &&
            sameName(rest.substr(0, name.size()), name)) {
            rest.remove_prefix(name.size() + 1);
            if (rest.starts_with('"')) return std::string(rest.substr(1, rest.find('"', 1) - 1));
            return std::string(rest.substr(0, rest.find_first_of("; \t")));
        }
    }
    return {};
}

bool isFormType(const std::string& type, std::string_view wanted) {
    std::string_view mediaType = std::string_view(type).substr(0, type.find(';'));
    while (!mediaType.empty() && std::isspace(static_cast<unsigned char>(mediaType.back())))
        mediaType.remove_suffix(1);
    return sameName(mediaType, wanted);
}

}  // namespace

HttpRequest requestFromHead(std::string method, std::string_view target, HeaderLines headers) {
    HttpRequest request;
    request.method = std::move(method);
    size_t question = target.find('?');
    request.path = percentDecoded(target.substr(0, question), false);
    if (question != std::string_view::npos) request.query = target.substr(question + 1);
    request.headers = std::move(headers);
    return request;
}

int framingRefusal(const HttpRequest& request, size_t bodyLimit) {
    const size_t lengths = request.headerCount("Content-Length");
    const std::string length = request.header("Content-Length");
    const bool plainNumber =
        !length.empty() && length.size() <= 12 &&
        std::all_of(length.begin(), length.end(), [](unsigned char c) { return std::isdigit(c); });
    const size_t codings = request.headerCount("Transfer-Encoding");
    // Two lengths, or a length beside chunks, are read one way here and
    // another by a proxy in front: no guess is made. A coding other than
    // chunks leaves the body's end unknown: what follows would be read as
    // the next request.
    if (lengths > 1 || (lengths == 1 && (!plainNumber || codings > 0)) || codings > 1 ||
        (codings == 1 && !sameName(request.header("Transfer-Encoding"), "chunked")))
        return 400;
    if (lengths == 1 && std::stoull(length) > bodyLimit) return 413;
    return 0;
}

std::optional<std::vector<std::pair<std::string, std::string>>> multipartParts(
    std::string_view body, std::string_view boundary, size_t maxParts) {
    if (boundary.empty() || boundary.size() > 70) return std::nullopt;  // as MIME allows
    const std::string delimiter = "--" + std::string(boundary);
    // The first delimiter may follow a preamble; every later one follows a line end.
    size_t at = body.starts_with(delimiter) ? 0 : body.find("\r\n" + delimiter);
    if (at == std::string_view::npos) return std::nullopt;
    at += body.starts_with(delimiter) ? delimiter.size() : delimiter.size() + 2;
    std::vector<std::pair<std::string, std::string>> parts;
    while (true) {
        if (body.substr(at).starts_with("--")) return parts;  // the closing delimiter
        if (!body.substr(at).starts_with("\r\n") || parts.size() == maxParts)
            return std::nullopt;
        at += 2;
        size_t headersEnd = body.find("\r\n\r\n", at);
        if (headersEnd == std::string_view::npos) return std::nullopt;
        std::string name;
        std::string_view headers = body.substr(at, headersEnd - at);
        while (!headers.empty()) {
            size_t end = std::min(headers.find("\r\n"), headers.size());
            std::string_view line = headers.substr(0, end);
            size_t colon = line.find(':');
            if (colon == std::string_view::npos) return std::nullopt;
            if (sameName(line.substr(0, colon), "Content-Disposition"))
                name = parameterOf(line.substr(colon + 1), "name");
            headers.remove_prefix(std::min(end + 2, headers.size()));
        }
        size_t contentStart = headersEnd + 4;
        size_t next = body.find("\r\n" + delimiter, contentStart);
        if (next == std::string_view::npos) return std::nullopt;
        parts.emplace_back(std::move(name),
                           std::string(body.substr(contentStart, next - contentStart)));
        at = next + 2 + delimiter.size();
    }
}

size_t HttpRequest::headerCount(std::string_view name) const {
    return static_cast<size_t>(std::count_if(headers.begin(), headers.end(), [&](const auto& line) {
        return sameName(line.first, name);
    }));
}

std::string HttpRequest::header(std::string_view name, size_t index) const {
    return headerOf(headers, name, index);
}

std::string HttpRequest::param(std::string_view name) const {
    if (auto value = fieldOf(query, name)) return *value;
    if (isFormType(header("Content-Type"), "application/x-www-form-urlencoded"))
        return fieldOf(body, name).value_or("");
    return {};
}

bool HttpRequest::isMultipart() const {
    return isFormType(header("Content-Type"), "multipart/form-data");
}

std::optional<std::string> HttpRequest::formPart(std::string_view name) const {
    if (!isMultipart()) return std::nullopt;
    auto parts = multipartParts(body, parameterOf(header("Content-Type"), "boundary"));
    if (!parts) return std::nullopt;
    for (auto& [partName, content] : *parts)
        if (partName == name) return std::move(content);
    return std::nullopt;
}

void HttpResponse::setHeader(std::string name, std::string value) {
    for (auto& [key, old] : headers)
        if (sameName(key, name)) return (void)(old = std::move(value));
    headers.emplace_back(std::move(name), std::move(value));
}

std::string HttpResponse::header(std::string_view name) const {
    return headerOf(headers, name, 0);
}

void HttpResponse::setContent(std::string content, std::string type) {
    body = std::move(content);
    setHeader("Content-Type", std::move(type));
}

void HttpResponse::redirect(const std::string& url) {
    status = 302;
    setHeader("Location", url);
}

}  // namespace velvox::service
