// Checking and saving the user's own Anthropic key, for polishing with
// Anthropic: the same steps as the Groq key, and its notes go beside the
// Anthropic key field.
#include "base/Log.h"
#include "home/Home.h"
#include "home/PageFunctions.h"
#include "home/PageScript.h"
#include "services/Account.h"

namespace velvox {

void Home::validateAndSaveAnthropicKey(const std::string& key) {
    if (key.empty()) {
        anthropicKeyNote("Paste a key first.", true, false);
        return;
    }
    Account::checkAnthropicKey(key, [weakSelf = weak(), key](EmptyResult answer) {
        onMain(weakSelf, [key, answer = std::move(answer)](Home& home) {
            if (answer.ok()) {
                Config::set("anthropicApiKey", key);
                Log::write("home: Anthropic key validated and saved");
                reloadApplication();
                home.anthropicKeyNote("Key works and is saved on this computer.", false, true);
                return;
            }
            const APIError* refusal = answer.apiError();
            if (!refusal) {
                home.anthropicKeyNote("Could not reach Anthropic: " + answer.errorDescription(),
                                      true, false);
            } else if (refusal->status == 401) {
                home.anthropicKeyNote(
                    "Anthropic rejected that key. Copy it again from the console.", true, false);
            } else {
                home.anthropicKeyNote("Anthropic returned " + std::to_string(refusal->status) +
                                          ". Try again in a moment.",
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
