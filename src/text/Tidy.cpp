#include "text/Tidy.h"

#include <unicode/regex.h>
#include <array>
#include <memory>

#include "base/Strings.h"

namespace velvox::Tidy {

namespace {

struct Step {
    const char* pattern;
    const char* replacement;
};

// The order matters: step 3 removes spaces that steps 1 and 2 would otherwise
// have kept apart ("wait ,what" ends as "wait,what").
constexpr std::array<Step, 4> kSteps = {{
    {"(?<=[a-z]{2})([.!?])(?=[A-Z])", "$1 "},
    {"(?<=[a-zA-Z0-9])([,;:])(?=[A-Za-z])", "$1 "},
    {" +([.!?,;])(?![-)(DPop])", "$1"},
    {"(?<=\\S)[ \\t]{2,}", " "},
}};

struct CompiledStep {
    std::unique_ptr<icu::RegexPattern> pattern;
    icu::UnicodeString replacement;
};

// Compiled once per thread (the tidy-up runs on the main thread and the
// network thread); each call makes its own matchers.
const std::array<CompiledStep, 4>& compiledSteps() {
    thread_local const std::array<CompiledStep, 4> steps = [] {
        std::array<CompiledStep, 4> compiled;
        for (size_t i = 0; i < kSteps.size(); ++i) {
            UParseError where;
            UErrorCode status = U_ZERO_ERROR;
            compiled[i].pattern.reset(icu::RegexPattern::compile(
                icu::UnicodeString::fromUTF8(kSteps[i].pattern), 0, where, status));
            if (U_FAILURE(status)) compiled[i].pattern.reset();
            compiled[i].replacement = icu::UnicodeString::fromUTF8(kSteps[i].replacement);
        }
        return compiled;
    }();
    return steps;
}

}  // namespace

std::string text(const std::string& text) {
    icu::UnicodeString current = icu::UnicodeString::fromUTF8(text);
    for (const CompiledStep& step : compiledSteps()) {
        if (!step.pattern) continue;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(step.pattern->matcher(current, status));
        if (U_FAILURE(status)) continue;
        icu::UnicodeString replaced = matcher->replaceAll(step.replacement, status);
        if (U_SUCCESS(status)) current = replaced;
    }
    std::string result;
    current.toUTF8String(result);
    return Strings::trim(result);
}

}  // namespace velvox::Tidy
