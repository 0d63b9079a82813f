#pragma once

#include <string>

namespace velvox::Tidy {

// Repairs the spacing around punctuation that recognisers and models get
// wrong, in four fixed steps, then trims white space at both ends:
//   1. a space after . ! ? between two lower-case letters and a capital
//   2. a space after , ; : between a letter or digit and a letter
//   3. no spaces before . ! ? , ; unless an emoticon follows (";)", ";P")
//   4. runs of spaces and tabs after text become one space
std::string text(const std::string& text);

}  // namespace velvox::Tidy
