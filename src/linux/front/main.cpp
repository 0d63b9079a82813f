// The program as a desktop shortcut or the browser runs it. `velvox dictate
// ...`, `velvox retry` and a second launch (with a sign-in address or none)
// go to the running copy over the session bus and end here, in a few
// milliseconds: a press-and-hold shortcut that waited for the toolkit's
// libraries to load would cut off the first word. Every other use of the
// program is the application's, which takes this process over.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "app/CommandHandOver.h"
#include "base/Brand.h"
#include "linux/dbus/RunningCopy.h"

namespace {

using namespace velvox;

// Beside this program in a build tree; installed, in the program's own
// folder of libraries.
std::string applicationProgram() {
    std::error_code error;
    std::filesystem::path here = std::filesystem::read_symlink("/proc/self/exe", error);
    for (const auto& candidate :
         {here.parent_path() / "velvox-app",
          here.parent_path().parent_path() / "lib" / "velvox" / "velvox-app"})
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    return "velvox-app";
}

CommandLine::HandedOver answered(const std::optional<std::string>& refusal) {
    return refusal ? CommandLine::HandedOver{true, *refusal} : CommandLine::HandedOver{};
}

// When this process was started: a shortcut's release may overtake its
// press on the way to the running copy, which tells them apart by this.
uint64_t startedAt() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1'000'000'000u + uint64_t(now.tv_nsec);
}

std::optional<int> handOver(const std::vector<std::string>& args, uint64_t sentAt) {
    CommandLine::HandOverHost host;
    host.handOverDictation = [sentAt](DictationCommand command, bool boost) {
        return answered(
            handOverDictation(Brand::bundleID, dictationCommandName(command), boost, sentAt));
    };
    host.applicationRunning = [] { return isApplicationRunning(Brand::bundleID); };
    host.handOverRetry = [] {
        return answered(handOverDictation(Brand::bundleID, "retry", false));
    };
    if (args[0] == "dictate") return CommandLine::dictate(args, host, std::cerr);
    if (args[0] == "retry") return CommandLine::retry(args, host, std::cerr);
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    uint64_t sentAt = startedAt();
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty()) {
        if (std::optional<int> status = handOver(args, sentAt)) return *status;
    }
    // A second launch, with the browser's sign-in address or none, goes to the
    // copy that runs; without one, the application starts below.
    bool onlyAddresses = std::all_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg.starts_with("velvox:");
    });
    if (onlyAddresses && handOverLaunch(Brand::bundleID, args)) return 0;
    // Anything else, a command given wrongly included (the application
    // shows the usage), with the same arguments and the same process.
    std::string program = applicationProgram();
    ::execv(program.c_str(), argv);
    std::cerr << Brand::name << " cannot start " << program << ": " << std::strerror(errno) << "\n";
    return 127;
}
