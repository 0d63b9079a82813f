#include "app/DictationPipeline.h"

#include <cstdio>
#include <memory>

#include "base/Log.h"
#include "base/Strings.h"
#include "records/Stats.h"
#include "services/API.h"
#include "text/Corrections.h"

namespace velvox::DictationPipeline {

namespace {

const std::string& promptFor(const Config& config, std::optional<Smart::Kind> kind) {
    if (!kind) return config.systemPrompt;
    switch (*kind) {
        case Smart::Kind::prompt:
            return config.promptModePrompt;
        case Smart::Kind::email:
            return config.emailPrompt;
        case Smart::Kind::message:
            return config.messagePrompt;
        case Smart::Kind::note:
            return config.notePrompt;
    }
    return config.systemPrompt;
}

}  // namespace

Prompt preparePrompt(const Config& config, std::optional<Smart::Kind> kind) {
    Prompt prompt{promptFor(config, kind), kind ? Smart::rawValue(*kind) : "plain"};
    std::string context = Config::contextText();
    if (!context.empty()) {
        prompt.text += kind == Smart::Kind::prompt ? Config::contextUsageBoost()
                                                   : Config::contextUsageResolve();
        prompt.text += "\n\n<context>\n" + context + "\n</context>";
    }
    Log::write("prompt " + std::to_string(Strings::codePointCount(prompt.text)) +
               " chars, context " + std::to_string(Strings::codePointCount(context)) +
               " chars, mode " + prompt.mode);
    return prompt;
}

bool shouldPolish(const Config& config, std::optional<Smart::Kind> kind) {
    if (!config.cleanup && !kind) return false;
    if (API::usesService(config)) return true;
    const std::string& key =
        config.cleanupProvider == "anthropic" ? config.anthropicApiKey : config.groqApiKey;
    return !key.empty();
}

void process(const std::string& file, const Config& config, std::optional<Smart::Kind> kind,
             const std::string& prompt, AudioFile audioFile, Handlers handlers) {
    auto shared = std::make_shared<Handlers>(std::move(handlers));
    API::transcribe(
        file, config, [file, config, kind, prompt, audioFile, shared](API::TextResult result) {
            // The recording is not needed past this point, whatever the answer.
            if (audioFile == AudioFile::deleteWhenTranscribed) std::remove(file.c_str());
            if (!result.ok()) {
                shared->transcriptionFailed(result.errorDescription());
                return;
            }
            const std::string& raw = result.value();
            int64_t spoken = Stats::count(raw);
            std::string trimmed = Strings::trim(Corrections::apply(raw, config.corrections));
            if (trimmed.empty()) {
                shared->heardNothing();
                return;
            }
            if (!shouldPolish(config, kind)) {
                shared->finished({trimmed, trimmed, spoken, std::nullopt});
                return;
            }
            shared->polishing();
            API::polish(trimmed, prompt, config,
                        [shared, trimmed, spoken](API::TextResult polished) {
                            if (polished.ok()) {
                                shared->finished({polished.value(), trimmed, spoken, std::nullopt});
                                return;
                            }
                            std::string description = polished.errorDescription();
                            Log::write("polish failed, using raw transcript: " + description);
                            shared->finished({trimmed, trimmed, spoken, description});
                        });
        });
}

}  // namespace velvox::DictationPipeline
