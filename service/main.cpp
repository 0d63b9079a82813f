// velvox-service: the composition root. Reads the settings, opens the store
// and runs the operator's command.
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "Service.h"
#include "ServiceLog.h"
#include "platform/curl/CurlHttpClient.h"

using namespace velvox::service;

namespace {

const char* const kUsage =
    "usage: velvox-service [--settings FILE] serve\n"
    "       velvox-service [--settings FILE] migrate\n"
    "       velvox-service [--settings FILE] users [list | plan EMAIL PLAN | revoke EMAIL]\n";

// The server's limits from the settings, and as many connections as the
// process may open descriptors for, less some for the database, mail and
// providers.
ServerLimits serverLimits(const Settings& settings) {
    ServerLimits limits;
    limits.connectionsPerClient = static_cast<size_t>(settings.connectionsPerClient);
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
        ::getrlimit(RLIMIT_NOFILE, &files);
        const rlim_t reserved = 256;
        if (files.rlim_cur != RLIM_INFINITY)
            limits.connections = static_cast<size_t>(
                std::min<rlim_t>(limits.connections, files.rlim_cur > reserved * 2
                                                         ? files.rlim_cur - reserved
                                                         : files.rlim_cur / 2));
    }
    return limits;
}

int usageError() {
    std::cerr << kUsage;
    return 2;
}

int users(Store& store, const std::vector<std::string>& arguments) {
    if (arguments.empty() || arguments[0] == "list") {
        for (const auto& entry : store.accounts(weekStart(systemNow()))) {
            std::cout << entry.account.email << '\t' << entry.account.plan << '\t'
                      << entry.activeTokens << " device(s)\t" << entry.words << " words, "
                      << entry.seconds << " s of audio this week\n";
        }
        return 0;
    }
    auto noAccount = [] {
        std::cerr << "no account with that address\n";
        return 1;
    };
    if (arguments[0] == "plan" && arguments.size() == 3) {
        return store.setPlan(accountEmail(arguments[1]), arguments[2]) ? 0 : noAccount();
    }
    if (arguments[0] == "revoke" && arguments.size() == 2) {
        std::string email = accountEmail(arguments[1]);
        auto accounts = store.accounts(weekStart(systemNow()));
        if (std::none_of(accounts.begin(), accounts.end(),
                         [&](const auto& entry) { return entry.account.email == email; }))
            return noAccount();
        std::cout << store.revokeTokens(email) << " token(s) revoked\n";
        return 0;
    }
    return usageError();
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string settingsFile;
    if (arguments.size() >= 2 && arguments[0] == "--settings") {
        settingsFile = arguments[1];
        arguments.erase(arguments.begin(), arguments.begin() + 2);
    }
    if (arguments.empty()) return usageError();
    const std::string command = arguments[0];
    arguments.erase(arguments.begin());
    if (command != "serve" && command != "migrate" && command != "users") return usageError();

    std::vector<std::string> problems;
    auto lookup = environmentLookup(settingsFile, problems);
    Settings settings = readSettings(
        lookup, command == "serve" ? SettingsNeed::serving : SettingsNeed::databaseOnly, problems);
    if (!problems.empty()) {
        for (const auto& problem : problems) std::cerr << "velvox-service: " << problem << '\n';
        return 1;
    }

    try {
        auto store = openStore(settings.database, settings.databaseConnections);
        if (command == "migrate") {
            int found = store->migrate();
            std::cout << "schema version " << found << " -> " << store->schemaVersion() << '\n';
            return 0;
        }
        if (command == "users") return users(*store, arguments);

        store->migrate();
        Mailer mailer(settings.smtpUrl, settings.mailFrom);
        Providers providers(settings, std::make_shared<velvox::CurlHttpClient>());
        Service service(settings, *store, mailer, providers);
        HttpServer server(serverLimits(settings));
        service.install(server);
        if (server.bind(settings.listenHost, settings.listenPort) == 0) {
            std::cerr << "velvox-service: cannot listen on " << settings.listenHost << ':'
                      << settings.listenPort << '\n';
            return 1;
        }
        server.stopOnSignals();
        ServiceLog::write("listening on " + settings.listenHost + ":" +
                          std::to_string(settings.listenPort));
        server.start();
        server.wait();
        ServiceLog::write("stopped");
        return 0;
    } catch (const StoreError& error) {
        std::cerr << "velvox-service: " << error.what() << '\n';
        return 1;
    }
}
