#include "app/DictationPipeline.h"

#include <memory>

#include "base/Log.h"
#include "base/Strings.h"
#include "records/Stats.h"
#include "services/API.h"
#include "text/Corrections.h"
#include "text/Tidy.h"

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

std::string modeOf(std::optional<Smart::Kind> kind) {
    return kind ? Smart::rawValue(*kind) : "plain";
}

Prompt preparePrompt(const Config& config, std::optional<Smart::Kind> kind) {
    Prompt prompt{promptFor(config, kind), modeOf(kind)};
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
    return API::polishingReady(config);
}

void process(TakeFile take, const Config& config, std::optional<Smart::Kind> kind,
             const std::string& prompt, Handlers handlers) {
    auto shared = std::make_shared<Handlers>(std::move(handlers));
    auto held = std::make_shared<TakeFile>(std::move(take));
    const std::string file = held->path();
    API::transcribe(file, config, [config, kind, prompt, held, shared](API::TextResult result) {
        if (!result.ok()) {
            shared->transcriptionFailed(result.errorDescription(),
                                        std::make_shared<TakeFile>(std::move(*held)));
            return;
        }
        const std::string& raw = result.value();
        int64_t spoken = Stats::count(raw);
        std::string trimmed = Strings::trim(Corrections::apply(raw, config.corrections));
        if (trimmed.empty()) {
            held->reset();
            shared->heardNothing();
            return;
        }
        auto finish = [shared, trimmed, spoken, held](const std::string& text,
                                                      std::optional<std::string> polishFailure) {
            shared->finished(
                {text, Tidy::text(text), trimmed, spoken, std::move(polishFailure), held});
        };
        if (!shouldPolish(config, kind)) {
            finish(trimmed, std::nullopt);
            return;
        }
        shared->polishing();
        API::polish(trimmed, prompt, config, [finish, trimmed](API::TextResult polished) {
            if (polished.ok()) {
                finish(polished.value(), std::nullopt);
                return;
            }
            std::string description = polished.errorDescription();
            Log::write("polish failed, using raw transcript: " + description);
            finish(trimmed, description);
        });
    });
}

}  // namespace velvox::DictationPipeline
