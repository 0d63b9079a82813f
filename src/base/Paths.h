#pragma once

#include <string>

namespace velvox::Paths {

// Where the product keeps its files, computed once from HOME: the settings
// folder and the files in it that more than one subsystem reads.
const std::string& dir();
const std::string& configURL();
const std::string& contextURL();
const std::string& logoURL();

// Call only while nothing else reads them (flush the log first).
void resetForTesting();

}  // namespace velvox::Paths
