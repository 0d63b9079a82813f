#include <gtest/gtest.h>

#include "services/TextPieces.h"
#include "services/Url.h"

namespace velvox {
namespace {

TEST(UrlTest, AcceptsHttpAddressesAndKeepsThePath) {
    const std::tuple<const char*, const char*, const char*, const char*> cases[] = {
        {"https://api.velvox.app/v1/transcribe?x=1#top", "https", "api.velvox.app",
         "/v1/transcribe"},
        {"HTTP://127.0.0.1:8080/polish", "http", "127.0.0.1", "/polish"},
        {"https://[::1]:443", "https", "[::1]", ""},
        {"https://host/a%20b", "https", "host", "/a%20b"}};
    for (const auto& [text, scheme, host, path] : cases) {
        auto url = parseHttpUrl(text);
        ASSERT_TRUE(url) << text;
        EXPECT_EQ(url->scheme, scheme) << text;
        EXPECT_EQ(url->host, host) << text;
        EXPECT_EQ(url->path, path) << text;
    }
}

TEST(UrlTest, RefusesWhatARequestCannotGoTo) {
    for (const char* text : {"", "/transcribe", "not a url/transcribe", "https://exa mple.com/x",
                             "https:///transcribe", "ftp://host/x", "file:///etc/passwd",
                             "https://user:pw@host/x", "https://host:99999/x", "https://host:8a/x",
                             "https://host/a b", "https://host/%zz", "https://host/\r\nX: y",
                             "https://host/caf\xc3\xa9", "javascript://host/x", "https://ho<st/"}) {
        EXPECT_FALSE(parseHttpUrl(text)) << text;
    }
}

TEST(UrlTest, LoggedTextIsCutByCharactersAndScrubbedOfSecrets) {
    std::string accented;
    for (int i = 0; i < 300; ++i) accented += "e\xcc\x81";  // e + combining acute: one character
    std::string prefix = TextPieces::prefixCharacters(accented, 200);
    EXPECT_EQ(prefix.size(), 200u * 3);
    EXPECT_EQ(TextPieces::prefixCharacters("short", 200), "short");

    EXPECT_TRUE(TextPieces::isValidUtf8("caf\xc3\xa9"));
    EXPECT_FALSE(TextPieces::isValidUtf8("caf\xc3"));
    EXPECT_FALSE(TextPieces::isValidUtf8("\xff"));

    EXPECT_EQ(TextPieces::redact("key sk-1 and sk-1 again", "sk-1"),
              "key [redacted] and [redacted] again");
    EXPECT_EQ(TextPieces::redact("aaaa", "aa"), "[redacted][redacted]");
    EXPECT_EQ(TextPieces::redact("nothing", ""), "nothing");
}

}  // namespace
}  // namespace velvox
