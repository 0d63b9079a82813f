#include <iostream>
#include <memory>

#include "app/CommandLine.h"
#include "app/Launch.h"
#include "platform/HttpClient.h"
#include "platform/Platform.h"
#include "platform/curl/CurlHttpClient.h"
#include "platform/linux/GlibMainQueue.h"
#include "platform/linux/SyslogSystemLog.h"

int main(int argc, char** argv) {
    using namespace velvox;
    Platform::installMainQueue(std::make_shared<GlibMainQueue>());
    Platform::installSystemLog(std::make_shared<SyslogSystemLog>());
    Platform::installHttpClient(std::make_shared<CurlHttpClient>());

    std::vector<std::string> args(argv + 1, argv + argc);
    CommandLine::Host host;
    host.launchApplication = [] { return Launch::run(); };
    return CommandLine::run(args, host, std::cout, std::cerr);
}
