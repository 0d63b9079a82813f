#include "services/TextPieces.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>
#include <memory>

namespace velvox::TextPieces {

bool isValidUtf8(std::string_view text) {
    const char* data = text.data();
    int32_t length = static_cast<int32_t>(text.size());
    for (int32_t offset = 0; offset < length;) {
        UChar32 c;
        U8_NEXT(data, offset, length, c);
        if (c < 0) return false;
    }
    return true;
}

std::string prefixCharacters(std::string_view text, size_t count) {
    UErrorCode status = U_ZERO_ERROR;
    UText* utext = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<UText, decltype(&utext_close)> textGuard(utext, &utext_close);
    UBreakIterator* breaks = ubrk_open(UBRK_CHARACTER, "", nullptr, 0, &status);
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaksGuard(breaks, &ubrk_close);
    if (U_FAILURE(status)) return std::string(text.substr(0, count));
    ubrk_setUText(breaks, utext, &status);
    if (U_FAILURE(status)) return std::string(text.substr(0, count));
    int32_t end = 0;
    for (size_t taken = 0; taken < count; ++taken) {
        int32_t next = ubrk_next(breaks);
        if (next == UBRK_DONE) return std::string(text);
        end = next;
    }
    return std::string(text.substr(0, static_cast<size_t>(end)));
}

std::string redact(std::string text, std::string_view secret) {
    if (secret.empty()) return text;
    const std::string_view mark = "[redacted]";
    for (size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + mark.size())) {
        text.replace(at, secret.size(), mark);
    }
    return text;
}

}  // namespace velvox::TextPieces
