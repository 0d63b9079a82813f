#include "records/History.h"

#include <unicode/normalizer2.h>
#include <unicode/unistr.h>
#include <unistd.h>

#include "base/DateFormat.h"
#include "base/Files.h"
#include "base/Paths.h"
#include "config/Config.h"
#include "platform/Platform.h"

namespace velvox::History {

namespace {

constexpr off_t kCeilingBytes = 400000;

// Texts that differ only in how accents are encoded are the same text: such an
// entry gets no "gave:" line.
bool sameText(const std::string& a, const std::string& b) {
    if (a == b) return true;
    UErrorCode status = U_ZERO_ERROR;
    const icu::Normalizer2* nfc = icu::Normalizer2::getNFCInstance(status);
    if (U_FAILURE(status)) return false;
    icu::UnicodeString left = nfc->normalize(icu::UnicodeString::fromUTF8(a), status);
    icu::UnicodeString right = nfc->normalize(icu::UnicodeString::fromUTF8(b), status);
    return U_SUCCESS(status) && left == right;
}

std::string entryText(const std::string& transcript, const std::string& output, bool boost) {
    std::string entry = "## " + DateFormat::local("dd MMM HH:mm", Platform::clock().now()) + "  " +
                        (boost ? "boost" : "plain") + "\n";
    entry += "said: " + transcript + "\n";
    if (!sameText(output, transcript)) entry += "gave: " + output + "\n";
    entry += "\n";
    return entry;
}

}  // namespace

std::string url() {
    return Files::join(Paths::dir(), "history.md");
}

void append(const std::string& transcript, const std::string& output, bool boost, bool keep) {
    if (!keep) return;
    std::string entry = entryText(transcript, output, boost);
    std::string path = url();
    Files::createFolder(Paths::dir());
    Files::AppendFile file(path);
    if (!file) return;
    if (file.size() > kCeilingBytes) {
        // Never trimmed line by line: the history restarts from this entry.
        file.close();
        Files::overwrite(path, entry);
        return;
    }
    file.write(entry);
    file.close();
    Files::setMode(path, Files::kPrivateFileMode);
}

void prepare() {
    static bool prepared = false;
    if (prepared) return;
    prepared = true;
    DateFormat::local("dd MMM HH:mm", Platform::clock().now());
}

}  // namespace velvox::History
