#include "app/CommandLine.h"

#include "app/Log.h"
#include "app/Strings.h"
#include "config/Config.h"
#include "feedback/Brand.h"

#ifndef VELVOX_VERSION
#define VELVOX_VERSION "0.0.0"
#endif

namespace velvox::CommandLine {

namespace {

constexpr int kUsageError = 2;

const char* const kUsage =
    "usage: velvox                 start the application\n"
    "       velvox --version       print the version and build stamp\n"
    "       velvox config          print the settings as they are read\n";

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
    out << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    return 0;
}

}  // namespace

std::string maskedKey(const std::string& key) {
    std::string trimmed = Strings::trim(key);
    if (trimmed.empty()) return "";
    return "set (" + std::to_string(Strings::codePointCount(trimmed)) + " characters)";
}

int run(const std::vector<std::string>& args, const Host& host, std::ostream& out,
        std::ostream& err) {
    if (args.empty()) return host.launchApplication ? host.launchApplication() : 1;
    const std::string& command = args[0];
    if (command == "--version" && args.size() == 1) {
        out << Brand::name << " " << VELVOX_VERSION << ", built " << Log::buildStamp() << "\n";
        return 0;
    }
    if (command == "config" && args.size() == 1) return printConfig(out);
    return usage(err);
}

}  // namespace velvox::CommandLine
