#include "app/CommandHandOver.h"

#include "base/Brand.h"
#include "capture/KeptTake.h"

namespace velvox::CommandLine {

namespace {

// The exit status of a command the running copy took: a script that binds
// it learns when nothing happened, and why.
int refusedOrDone(const HandedOver& answer, const std::string& command, std::ostream& err) {
    if (answer.refusal.empty()) return 0;
    err << "velvox " << command << ": " << answer.refusal << "\n";
    return 1;
}

}  // namespace

// Starting the application from here would open a window in the user's face
// instead of dictating.
std::optional<int> dictate(const std::vector<std::string>& args, const HandOverHost& host,
                           std::ostream& err) {
    std::optional<DictationCommand> command =
        args.size() >= 2 ? parseDictationCommand(args[1]) : std::nullopt;
    bool boost = args.size() == 3 && args[2] == "--boost";
    if (!command || args.size() > 3 || (args.size() == 3 && !boost)) return std::nullopt;
    HandedOver answer =
        host.handOverDictation ? host.handOverDictation(*command, boost) : HandedOver{};
    if (answer.reached) return refusedOrDone(answer, "dictate " + args[1], err);
    err << Brand::name << " is not running. Start it first, then run \"velvox dictate " << args[1]
        << "\" again.\n";
    return 1;
}

// The running copy owns the kept take; the file is looked at here only to
// answer at once when there is nothing to retry.
std::optional<int> retry(const std::vector<std::string>& args, const HandOverHost& host,
                         std::ostream& err) {
    constexpr int kNothingToRetry = 1;
    constexpr int kNotRunning = 2;
    if (args.size() != 1) return std::nullopt;
    auto notRunning = [&] {
        err << Brand::name << " is not running. Start it first, then run \"velvox retry\" again.\n";
        return kNotRunning;
    };
    if (!host.applicationRunning || !host.applicationRunning()) return notRunning();
    if (!KeptTake::exists()) {
        err << "nothing to retry\n";
        return kNothingToRetry;
    }
    HandedOver answer = host.handOverRetry ? host.handOverRetry() : HandedOver{};
    if (!answer.reached) return notRunning();
    return refusedOrDone(answer, "retry", err);
}

}  // namespace velvox::CommandLine
