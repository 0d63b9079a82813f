// Request bytes as any client may send them, through the parser settings and
// the head handling of velvox-service, then every field reader a route uses.
// Built and run by scripts/fuzz.sh (libFuzzer, with the address and
// undefined-behaviour sanitizers).

#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <cstddef>
#include <cstdint>

#include "HttpMessage.h"

using namespace velvox::service;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace http = boost::beast::http;
    http::request_parser<http::string_body> parser;
    parser.header_limit(16 * 1024);
    parser.body_limit(64 * 1024);
    parser.eager(true);
    boost::beast::error_code error;
    auto rest = boost::asio::const_buffer(data, size);
    while (rest.size() > 0 && !error && !parser.is_done()) {
        size_t used = parser.put(rest, error);
        if (used == 0) break;
        rest += used;
    }
    if (!parser.is_header_done()) return 0;
    const auto& head = parser.get();
    HeaderLines lines;
    for (const auto& field : head)
        lines.emplace_back(std::string(field.name_string()), std::string(field.value()));
    HttpRequest request = requestFromHead(
        std::string(head.method_string()),
        std::string_view(head.target().data(), head.target().size()), std::move(lines));
    if (framingRefusal(request, 4096) != 0) return 0;
    request.body = head.body();
    (void)request.param("code");
    (void)request.formPart("file");
    (void)request.header("X-Forwarded-For", request.headerCount("X-Forwarded-For"));
    (void)multipartParts(request.body, "b", 4);
    return 0;
}
