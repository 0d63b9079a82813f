#include "text/Corrections.h"

#include <unicode/regex.h>
#include <algorithm>
#include <memory>
#include <vector>

#include "base/Log.h"
#include "text/Graphemes.h"
#include "text/RegexText.h"

namespace velvox::Corrections {

namespace {

struct Rule {
    const std::string* phrase;
    const std::string* replacement;
    size_t length;  // user-perceived characters of the phrase
};

// Longest phrase first, so "for the coaching system" is tried before the
// "for the coaching" it contains. The rule table is a sorted map and the sort
// is stable, so phrases of equal length keep their byte order: the same rules
// always give the same result.
std::vector<Rule> orderedRules(const std::map<std::string, std::string>& rules) {
    std::vector<Rule> ordered;
    ordered.reserve(rules.size());
    for (const auto& [phrase, replacement] : rules) {
        ordered.push_back({&phrase, &replacement, Graphemes::count(phrase)});
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const Rule& a, const Rule& b) { return a.length > b.length; });
    return ordered;
}

icu::UnicodeString toUnicode(const std::string& text) {
    return icu::UnicodeString::fromUTF8(text);
}

// Builds the whole-word, case-insensitive expression of a phrase; none when
// it does not compile.
std::unique_ptr<icu::RegexPattern> compile(const std::string& phrase) {
    icu::UnicodeString pattern("\\b");
    pattern.append(RegexText::escapedPattern(toUnicode(phrase)));
    pattern.append("\\b");
    UParseError where;
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<icu::RegexPattern> compiled(
        icu::RegexPattern::compile(pattern, UREGEX_CASE_INSENSITIVE, where, status));
    if (U_FAILURE(status)) return nullptr;
    return compiled;
}

}  // namespace

std::string apply(const std::string& text, const std::map<std::string, std::string>& rules) {
    if (rules.empty()) return text;
    icu::UnicodeString current = toUnicode(text);
    std::vector<std::string> applied;
    for (const Rule& rule : orderedRules(rules)) {
        // An empty phrase would match at every word boundary and scatter its
        // replacement through the text.
        if (rule.phrase->empty()) continue;
        std::unique_ptr<icu::RegexPattern> pattern = compile(*rule.phrase);
        if (!pattern) continue;
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::RegexMatcher> matcher(pattern->matcher(current, status));
        if (U_FAILURE(status) || !matcher->find(status) || U_FAILURE(status)) continue;
        icu::UnicodeString replaced =
            matcher->replaceAll(RegexText::escapedTemplate(toUnicode(*rule.replacement)), status);
        if (U_FAILURE(status)) continue;
        current = replaced;
        applied.push_back(*rule.phrase + " -> " + *rule.replacement);
    }
    if (applied.empty()) return text;
    std::string line = "corrections: ";
    for (size_t i = 0; i < applied.size(); ++i) {
        if (i > 0) line += ", ";
        line += applied[i];
    }
    Log::write(line);
    std::string result;
    current.toUTF8String(result);
    return result;
}

}  // namespace velvox::Corrections
