#pragma once

namespace velvox::Launch {

// Prepares the settings at start-up (older folder, template, load) and logs
// the launch line. Answers the exit status.
int run();

}  // namespace velvox::Launch
