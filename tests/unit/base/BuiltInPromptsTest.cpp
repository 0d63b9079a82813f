#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "config/Config.h"

using velvox::Config;

namespace {

struct Text {
    const char* name;
    const std::string* text;
    size_t target;
};

// Lengths the model's behaviour was tuned against; drifting far from them
// changes how much the model leans on each rule.
std::vector<Text> allTexts() {
    return {
        {"defaultPrompt", &Config::defaultPrompt(), 3161},
        {"defaultBoostPrompt", &Config::defaultBoostPrompt(), 1301},
        {"defaultPromptModePrompt", &Config::defaultPromptModePrompt(), 3266},
        {"defaultEmailPrompt", &Config::defaultEmailPrompt(), 3635},
        {"defaultMessagePrompt", &Config::defaultMessagePrompt(), 3423},
        {"defaultNotePrompt", &Config::defaultNotePrompt(), 3377},
        {"contextUsageResolve", &Config::contextUsageResolve(), 240},
        {"contextUsageBoost", &Config::contextUsageBoost(), 259},
    };
}

std::vector<Text> prompts() {
    auto all = allTexts();
    all.erase(all.begin() + 6, all.end());  // drop the two usage paragraphs
    return all;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

size_t count(const std::string& haystack, const std::string& needle) {
    size_t n = 0;
    for (size_t pos = haystack.find(needle); pos != std::string::npos;
         pos = haystack.find(needle, pos + needle.size()))
        ++n;
    return n;
}

// Asserts each marker occurs in text, each after the previous one.
void expectInOrder(const std::string& text, const std::vector<std::string>& markers) {
    size_t from = 0;
    for (const auto& marker : markers) {
        size_t at = text.find(marker, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << marker;
        from = at + marker.size();
    }
}

}  // namespace

TEST(BuiltInPrompts, LengthsAreNearTargetAndTextIsPlainAscii) {
    for (const auto& t : allTexts()) {
        SCOPED_TRACE(t.name);
        long diff = std::labs(static_cast<long>(t.text->size()) - static_cast<long>(t.target));
        EXPECT_LE(diff * 100, static_cast<long>(t.target) * 5)
            << "length " << t.text->size() << ", target " << t.target;
        for (unsigned char c : *t.text) {
            ASSERT_LT(c, 0x80) << "non-ASCII byte in text";
            ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7f)) << "control character " << int(c);
        }
    }
}

TEST(BuiltInPrompts, EveryPromptSpeaksToTheModelAndEndsWithOutputOnly) {
    for (const auto& t : prompts()) {
        SCOPED_TRACE(t.name);
        const std::string& text = *t.text;
        EXPECT_EQ(text.rfind("You ", 0), 0u) << "prompt should open in the second person";
        EXPECT_NE(text.find("<transcript>"), std::string::npos);
        // The last sentence must be the output-only instruction so nothing
        // after it can invite a preamble or commentary.
        size_t lastSentence = text.rfind(". ", text.size() - 2);
        ASSERT_NE(lastSentence, std::string::npos);
        std::string tail = text.substr(lastSentence + 2);
        EXPECT_EQ(tail.rfind("Output only the rewritten", 0), 0u) << "last sentence: " << tail;
        EXPECT_TRUE(endsWith(text, ".")) << "prompt should not end in white space";
    }
}

TEST(BuiltInPrompts, GeneralPromptHasItsSectionsInOrder) {
    const std::string& p = Config::defaultPrompt();
    expectInOrder(p, {"<transcript>", "HOW TO HANDLE A SELF CORRECTION", "\"scratch that\"",
                      "\"I mean\"", "REMOVE:", "KEEP, ALWAYS:", "\"at least for now\"", "em dashes",
                      "REWRITE SPEECH INTO WRITING", "Spoken:", "Written:", "NUMBERS AS SPOKEN",
                      "currency symbol", "Output only the rewritten text."});
    EXPECT_EQ(count(p, "HOW TO HANDLE A SELF CORRECTION"), 1u);
    EXPECT_EQ(count(p, "NUMBERS AS SPOKEN"), 1u);
    // The transcript is material, never a request to be answered.
    size_t tag = p.find("<transcript>");
    ASSERT_NE(tag, std::string::npos);
    EXPECT_NE(p.find("never a request", tag), std::string::npos);
}

TEST(BuiltInPrompts, ShapedPromptsExtendTheGeneralPromptWithOneSection) {
    struct Shaped {
        const std::string& text;
        const char* heading;
    };
    const std::vector<Shaped> shaped = {
        {Config::defaultEmailPrompt(), "THEN SHAPE IT AS AN EMAIL."},
        {Config::defaultMessagePrompt(),
         "THEN SHAPE IT AS A CHAT MESSAGE, for Slack, Teams or WhatsApp."},
        {Config::defaultNotePrompt(),
         "THEN SHAPE IT AS WRITTEN PROSE, as if they had typed it carefully."},
    };
    const std::string prefix = Config::defaultPrompt() + "\n\n";
    for (const auto& s : shaped) {
        SCOPED_TRACE(s.heading);
        ASSERT_EQ(s.text.compare(0, prefix.size(), prefix), 0)
            << "does not start with the general prompt";
        std::string section = s.text.substr(prefix.size());
        EXPECT_EQ(section.rfind(std::string(s.heading) + "\n", 0), 0u)
            << "section must open with its heading";
        EXPECT_EQ(count(s.text, "THEN SHAPE IT AS"), 1u) << "exactly one shaping section";
        EXPECT_TRUE(endsWith(section, "Output only the rewritten text."));
    }
    EXPECT_NE(Config::defaultEmailPrompt().find("subject line"), std::string::npos);
}

TEST(BuiltInPrompts, PromptModePromptHasSectionsAndThreeWorkedExamples) {
    const std::string& p = Config::defaultPromptModePrompt();
    expectInOrder(
        p, {"<transcript>", "\"Background\"", "\"Constraints\"", "EVERY WORD LANDS SOMEWHERE",
            "THE REQUEST IS WRITTEN ONCE", "NUMBERS AS SPOKEN", "Not specified", "<example>"});
    for (const char* hedge :
         {"\"maybe\"", "\"roughly\"", "\"about\"", "\"probably\"", "\"I think\""})
        EXPECT_NE(p.find(hedge), std::string::npos) << hedge;

    EXPECT_EQ(count(p, "<example>"), 3u);
    EXPECT_EQ(count(p, "</example>"), 3u);
    for (const char* tag : {"spoken", "written", "why"}) {
        EXPECT_EQ(count(p, std::string("<") + tag + ">"), 3u) << tag;
        EXPECT_EQ(count(p, std::string("</") + tag + ">"), 3u) << tag;
    }
    size_t from = 0;
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        size_t open = p.find("<example>", from);
        ASSERT_NE(open, std::string::npos);
        size_t close = p.find("</example>", open);
        ASSERT_NE(close, std::string::npos);
        std::string block = p.substr(open, close - open);
        expectInOrder(block,
                      {"<spoken>", "</spoken>", "<written>", "</written>", "<why>", "</why>"});
        from = close;
    }
    // The long example shows the structured form the short ones avoid.
    size_t third = p.rfind("<example>");
    std::string lastBlock = p.substr(third, p.find("</example>", third) - third);
    expectInOrder(lastBlock,
                  {"<written>", "Background:", "- ", "Constraints:", "- ", "</written>"});
}

TEST(BuiltInPrompts, BoostPromptNamesContextThenGoal) {
    const std::string& p = Config::defaultBoostPrompt();
    expectInOrder(
        p, {"<transcript>", "\"Context:\"", "\"Goal:\"", "80 words", "Output only the rewritten"});
}

TEST(BuiltInPrompts, UsageParagraphsOpenWithTheContextSentence) {
    const std::string opening =
        "\n\nThe <context> block below is background on the user and their work.";
    for (const std::string* usage :
         {&Config::contextUsageResolve(), &Config::contextUsageBoost()}) {
        EXPECT_EQ(usage->rfind(opening, 0), 0u) << *usage;
        EXPECT_FALSE(endsWith(*usage, "\n")) << "the caller adds its own separator";
    }
    // The boost paragraph must point the model at the briefing's sections.
    EXPECT_NE(Config::contextUsageBoost().find("Context and Goal"), std::string::npos);
    EXPECT_NE(Config::contextUsageResolve().find("never mention"), std::string::npos);
}
