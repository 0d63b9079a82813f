#include "Mailer.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace velvox::service {

namespace {

struct Payload {
    std::string data;
    size_t offset = 0;
};

size_t readPayload(char* buffer, size_t size, size_t count, void* user) {
    auto* payload = static_cast<Payload*>(user);
    size_t length = std::min(size * count, payload->data.size() - payload->offset);
    std::memcpy(buffer, payload->data.data() + payload->offset, length);
    payload->offset += length;
    return length;
}

std::string dateHeader() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S +0000", &utc);
    return text;
}

}  // namespace

Mailer::Mailer(std::string smtpUrl, std::string from)
    : smtpUrl_(std::move(smtpUrl)), from_(std::move(from)) {}

std::optional<std::string> Mailer::send(const std::string& to, const std::string& subject,
                                        const std::string& text) const {
    Payload payload;
    payload.data = "Date: " + dateHeader() + "\r\nTo: <" + to + ">\r\nFrom: <" + from_ +
                   ">\r\nSubject: " + subject +
                   "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n";
    // SMTP lines end in CR LF, and a line that begins with a dot is doubled.
    std::string line;
    for (char c : text + "\n") {
        if (c != '\n') {
            line.push_back(c);
            continue;
        }
        if (line.starts_with(".")) payload.data.push_back('.');
        payload.data += line + "\r\n";
        line.clear();
    }

    CURL* curl = curl_easy_init();
    if (!curl) return "out of memory";
    curl_slist* recipients = curl_slist_append(nullptr, ("<" + to + ">").c_str());
    std::string from = "<" + from_ + ">";
    curl_easy_setopt(curl, CURLOPT_URL, smtpUrl_.c_str());
    curl_easy_setopt(curl, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(curl, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(curl, CURLOPT_MAIL_RCPT, recipients);
    curl_easy_setopt(curl, CURLOPT_READFUNCTION, readPayload);
    curl_easy_setopt(curl, CURLOPT_READDATA, &payload);
    curl_easy_setopt(curl, CURLOPT_UPLOAD, 1L);
    // Each worker waiting on the mail server is one fewer for everyone else:
    // a server that takes the connection and then says nothing is left soon.
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 5L);
    curl_easy_setopt(curl, CURLOPT_SERVER_RESPONSE_TIMEOUT, 5L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, 15L);
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    CURLcode result = curl_easy_perform(curl);
    long reply = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply);
    curl_slist_free_all(recipients);
    curl_easy_cleanup(curl);
    if (result == CURLE_OK) return std::nullopt;
    std::string why = curl_easy_strerror(result);
    return reply ? why + " (server reply " + std::to_string(reply) + ")" : why;
}

bool plausibleEmail(const std::string& address) {
    if (address.size() < 3 || address.size() > 254) return false;
    auto at = address.find('@');
    if (at == std::string::npos || at == 0 || at + 1 == address.size() ||
        address.find('@', at + 1) != std::string::npos)
        return false;
    return std::none_of(address.begin(), address.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte <= 0x20 || byte == 0x7F || c == '<' || c == '>' || c == ',' || c == ';';
    });
}

}  // namespace velvox::service
