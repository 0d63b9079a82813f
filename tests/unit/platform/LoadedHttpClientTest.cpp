#include <gtest/gtest.h>

#include <future>

#include "platform/curl/LoadedHttpClient.h"
#include "support/LoopbackServer.h"
#include "support/TempHome.h"

namespace velvox::testing {
namespace {

using LoadedHttpClientTest = TempHomeTest;

std::string answerOf(const HttpResult& result) {
    if (auto* response = std::get_if<HttpResponse>(&result))
        return std::to_string(response->status);
    return std::get<TransportError>(result).message;
}

// The client comes from the module at the first request, on a thread of its
// own: the requests made before it is there all go out, the warm-up's
// connection among them; without the module each one fails with a word for
// the user, and the log says why.
TEST_F(LoadedHttpClientTest, RequestsMadeWhileTheModuleLoadsGoOutOrFailWithTheReason) {
    LoopbackServer server;
    const std::string missing = "Velvox could not load its network part; reinstall Velvox.";
    struct Case {
        const char* module;
        std::vector<std::string> answers;
    } cases[] = {
        {VELVOX_NET_MODULE, {"connected", "200", "200", "200"}},
        {"/nonexistent/libvelvox-net.so", {missing, missing, missing, missing}},
    };
    for (const auto& test : cases) {
        std::vector<std::string> answers;
        LoadedHttpClient client(test.module);
        std::promise<std::optional<TransportError>> connected;
        client.connect(server.base(), [&](auto error) { connected.set_value(error); });
        std::promise<HttpResult> sent[3];
        for (auto& result : sent)
            client.send({"GET", server.base() + "/usage"},
                        [&result](HttpResult answer) { result.set_value(std::move(answer)); });
        auto error = connected.get_future().get();
        answers.push_back(error ? error->message : "connected");
        for (auto& result : sent) answers.push_back(answerOf(result.get_future().get()));
        EXPECT_EQ(answers, test.answers) << test.module;
    }
    EXPECT_EQ(timesLogged("network module not loaded: /nonexistent/libvelvox-net.so: cannot open",
                          /*prefix=*/true),
              1u);
}

}  // namespace
}  // namespace velvox::testing
