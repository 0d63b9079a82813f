#include "text/Graphemes.h"

#include <unicode/brkiter.h>
#include <unicode/unistr.h>
#include <memory>

namespace velvox::Graphemes {

namespace {

// A break iterator is costly to build and not safe to share between threads,
// so each thread keeps its own.
icu::BreakIterator* characterIterator() {
    thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::BreakIterator> made(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) made.reset();
        return made;
    }();
    return iterator.get();
}

icu::UnicodeString toUnicode(std::string_view text) {
    return icu::UnicodeString::fromUTF8(
        icu::StringPiece(text.data(), static_cast<int32_t>(text.size())));
}

}  // namespace

size_t count(std::string_view text) {
    if (text.empty()) return 0;
    icu::UnicodeString unicode = toUnicode(text);
    icu::BreakIterator* iterator = characterIterator();
    if (!iterator) return static_cast<size_t>(unicode.countChar32());
    iterator->setText(unicode);
    size_t clusters = 0;
    for (int32_t at = iterator->next(); at != icu::BreakIterator::DONE; at = iterator->next()) {
        ++clusters;
    }
    return clusters;
}

std::string prefix(std::string_view text, size_t limit) {
    icu::UnicodeString unicode = toUnicode(text);
    int32_t end = unicode.length();
    if (icu::BreakIterator* iterator = characterIterator()) {
        iterator->setText(unicode);
        size_t clusters = 0;
        for (int32_t at = iterator->next(); at != icu::BreakIterator::DONE; at = iterator->next()) {
            if (++clusters == limit) {
                end = at;
                break;
            }
        }
        if (limit == 0) end = 0;
    } else {
        end = unicode.moveIndex32(0, static_cast<int32_t>(std::min<size_t>(limit, INT32_MAX)));
    }
    std::string result;
    unicode.tempSubString(0, end).toUTF8String(result);
    return result;
}

}  // namespace velvox::Graphemes
