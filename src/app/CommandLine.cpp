#include "app/CommandLine.h"

#include <algorithm>
#include <optional>

#include "app/TranscribeCommand.h"
#include "base/Brand.h"
#include "base/Log.h"
#include "base/Strings.h"
#include "config/Config.h"
#include "records/Stats.h"

#ifndef VELVOX_VERSION
#define VELVOX_VERSION "0.0.0"
#endif

namespace velvox::CommandLine {

namespace {

constexpr int kUsageError = 2;

const char* const kUsage =
    "usage: velvox                 start the application\n"
    "       velvox velvox://...    hand a sign-in address to the application\n"
    "       velvox --version       print the version and build stamp\n"
    "       velvox config          print the settings as they are read\n"
    "       velvox stats [--days N | --week]\n"
    "                              print the usage statistics of the last N days (30),\n"
    "                              or of the current week\n"
    "       velvox transcribe FILE [--kind prompt|email|message|note]\n"
    "                              turn an audio file into the text a dictation gives\n"
    "       velvox dictate start|stop|toggle [--boost]\n"
    "                              start or stop a dictation in the running application,\n"
    "                              for a shortcut of the desktop's own\n"
    "       velvox retry           try the last failed dictation again in the running\n"
    "                              application, into the field in front\n";

int usage(std::ostream& err) {
    err << kUsage;
    return kUsageError;
}

// Prints the settings exactly as Config::load reads them. Reading alone must
// not create anything, so log lines go to standard error.
int printConfig(std::ostream& out) {
    Log::sendToStandardError(true);
    Config config = Config::load();
    Log::flush();
    auto json = config.toJson();
    json["groqApiKey"] = maskedKey(config.groqApiKey);
    json["anthropicApiKey"] = maskedKey(config.anthropicApiKey);
    json["transcribeApiKey"] = maskedKey(config.transcribeApiKey);
    json["cleanupApiKey"] = maskedKey(config.cleanupApiKey);
    out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return 0;
}

// A whole number of days, 1 to 100 years' worth; none for anything else.
std::optional<int> parseDays(const std::string& text) {
    constexpr int kMostDays = 36500;
    if (text.empty() || text.size() > 5) return std::nullopt;
    int days = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        days = days * 10 + (c - '0');
    }
    if (days < 1 || days > kMostDays) return std::nullopt;
    return days;
}

// Prints the statistics summary, reading the file only: nothing is created,
// and any log line goes to standard error.
int printStats(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    nlohmann::json summary;
    if (args.size() == 1) {
        Log::sendToStandardError(true);
        summary = Stats::summary(30);
    } else if (args.size() == 2 && args[1] == "--week") {
        Log::sendToStandardError(true);
        summary = Stats::summary(7, Stats::weekStartUTC());
    } else if (args.size() == 3 && args[1] == "--days") {
        std::optional<int> days = parseDays(args[2]);
        if (!days) return usage(err);
        Log::sendToStandardError(true);
        summary = Stats::summary(*days);
    } else {
        return usage(err);
    }
    Log::flush();
    out << summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return 0;
}

}  // namespace

std::string maskedKey(const std::string& key) {
    std::string trimmed = Strings::trim(key);
    if (trimmed.empty()) return "";
    return "set (" + std::to_string(Strings::codePointCount(trimmed)) + " characters)";
}

namespace {

int dispatch(const std::vector<std::string>& args, const Host& host, std::ostream& out,
             std::ostream& err) {
    bool onlyAddresses = std::all_of(args.begin(), args.end(), [](const std::string& arg) {
        return arg.starts_with("velvox:");
    });
    if (onlyAddresses) return host.launchApplication ? host.launchApplication(args) : 1;
    const std::string& command = args[0];
    if (command == "--version" && args.size() == 1) {
        out << Brand::name << " " << VELVOX_VERSION << ", built " << Log::buildStamp() << "\n";
        return 0;
    }
    if (command == "config" && args.size() == 1) return printConfig(out);
    if (command == "stats") return printStats(args, out, err);
    std::optional<int> handedOver = command == "dictate" ? dictate(args, host, err)
                                    : command == "retry" ? retry(args, host, err)
                                                         : std::nullopt;
    if (handedOver) return *handedOver;
    if (command == "transcribe") return transcribeCommand({args.begin() + 1, args.end()}, out, err);
    return usage(err);
}

}  // namespace

int run(const std::vector<std::string>& args, const Host& host, std::ostream& out,
        std::ostream& err) {
    int status = dispatch(args, host, out, err);
    // A line queued by a network thread just before the command's answer came
    // would otherwise race the end of the process.
    Log::flush();
    return status;
}

}  // namespace velvox::CommandLine
