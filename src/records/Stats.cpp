#include "records/Stats.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>
#include <unistd.h>
#include <cmath>

#include "base/Files.h"
#include "base/Paths.h"
#include "config/Config.h"
#include "platform/Platform.h"
#include "records/StatsEvent.h"
#include "records/StatsTime.h"
#include "text/Graphemes.h"

namespace velvox::Stats {

namespace {

constexpr off_t kTrimAboveBytes = 2000000;
constexpr int64_t kRetentionSeconds = 90 * 86400;
constexpr size_t kTextExcerpt = 280;

bool isWhiteSpace(UChar32 c) {
    return c >= 0 && u_hasBinaryProperty(c, UCHAR_WHITE_SPACE);
}

// Keeps only the last 90 days, replacing the file as a whole so that a reader
// never sees half of it. Errors are ignored.
void trim(const std::string& path) {
    int64_t cutoff = nowSeconds() - kRetentionSeconds;
    std::string kept;
    for (const Raw& event : read(path)) {
        if (event.at < cutoff) continue;
        if (auto line = serialize(event)) {
            kept += *line;
            kept += '\n';
        }
    }
    Files::writeAtomically(path, kept, Files::kPrivateFileMode);
}

}  // namespace

std::string url() {
    return Files::join(Paths::dir(), "stats.jsonl");
}

int64_t count(std::string_view text) {
    const char* data = text.data();
    int32_t length = static_cast<int32_t>(text.size());
    int64_t words = 0;
    bool inWord = false;
    for (int32_t at = 0; at < length;) {
        UChar32 c;
        U8_NEXT(data, at, length, c);
        // Malformed bytes are part of a word, not a separator.
        bool space = isWhiteSpace(c);
        if (!space && !inWord) ++words;
        inWord = !space;
    }
    return words;
}

void record(const std::string& text, int64_t spoken, double seconds, const std::string& bundle,
            const std::string& app, const std::string& mode) {
    int64_t words = count(text);
    if (words == 0) return;
    Raw event;
    event.at = nowSeconds();
    event.words = words;
    event.spoken = spoken;
    event.seconds = std::round(seconds * 10) / 10;  // halves away from zero
    event.app = app;
    event.bundle = bundle;
    event.mode = mode;
    event.text = Graphemes::prefix(text, kTextExcerpt);
    std::optional<std::string> line = serialize(event);
    if (!line) return;
    *line += '\n';

    std::string path = url();
    Files::createFolder(Paths::dir());
    auto file = std::make_unique<Files::AppendFile>(path);
    if (!*file) return;
    if (file->size() > kTrimAboveBytes) {
        file.reset();
        trim(path);
        file = std::make_unique<Files::AppendFile>(path);
        if (!*file) return;
    }
    file->write(*line);
    file.reset();
    Files::setMode(path, Files::kPrivateFileMode);
}

}  // namespace velvox::Stats
