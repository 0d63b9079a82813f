// Checking and saving the user's own Anthropic key, for polishing with
// Anthropic: the same steps as the Groq key, and its notes go beside the
// Anthropic key field.
#include "base/Log.h"
#include "home/Home.h"
#include "home/PageFunctions.h"
#include "home/PageScript.h"
#include "platform/HttpClient.h"
#include "platform/Platform.h"
#include "services/API.h"

namespace velvox {

namespace {

constexpr double kKeyCheckTimeoutSeconds = 15;

}  // namespace

void Home::validateAndSaveAnthropicKey(const std::string& key) {
    if (key.empty()) {
        anthropicKeyNote("Paste a key first.", true, false);
        return;
    }
    // Listing the models costs nothing and needs a valid key.
    HttpRequest request;
    request.method = "GET";
    request.url = API::anthropicBase() + "/v1/models";
    request.timeoutSeconds = kKeyCheckTimeoutSeconds;
    request.headers = {{"x-api-key", key}, {"anthropic-version", "2023-06-01"}};
    Platform::httpClient().send(std::move(request), [weakSelf = weak(), key](HttpResult result) {
        int status = 0;
        std::optional<std::string> failure;
        if (auto* error = std::get_if<TransportError>(&result)) {
            failure = error->message;
        } else {
            status = std::get<HttpResponse>(result).status;
        }
        onMain(weakSelf, [key, status, failure](Home& home) {
            if (failure) {
                home.anthropicKeyNote("Could not reach Anthropic: " + *failure, true, false);
            } else if (status == 401) {
                home.anthropicKeyNote(
                    "Anthropic rejected that key. Copy it again from the console.", true, false);
            } else if (status == 200) {
                Config::set("anthropicApiKey", key);
                Log::write("home: Anthropic key validated and saved");
                reloadApplication();
                home.anthropicKeyNote("Key works and is saved on this computer.", false, true);
            } else {
                home.anthropicKeyNote(
                    "Anthropic returned " + std::to_string(status) + ". Try again in a moment.",
                    true, false);
            }
        });
    });
}

void Home::anthropicKeyNote(const std::string& note, bool bad, bool saved) {
    Json state = stateObject(std::nullopt, false, false);
    state["anthropicKeyNote"] = note;
    state["anthropicKeyBad"] = bad;
    if (saved) state["anthropicKeySaved"] = true;
    applyTheme();
    run(PageScript::call(PageFunction::state, state));
}

}  // namespace velvox
