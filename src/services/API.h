#pragma once

#include <functional>
#include <optional>
#include <string>

#include "config/Config.h"
#include "platform/HttpClient.h"
#include "services/ServiceResult.h"

namespace velvox::API {

using TextResult = ServiceResult<std::string>;
using TextCompletion = std::function<void(TextResult)>;
// Raw answer bodies of API::send.
using DataCompletion = std::function<void(ServiceResult<std::string>)>;
// Whole answers of API::exchange, whatever their status.
using AnswerCompletion = std::function<void(ServiceResult<HttpResponse>)>;

// Every completion is called exactly once. Completions run on the network
// thread; a failure found before anything is sent (no key, unreadable file,
// an address that is not valid) completes at once on the caller's thread.
// Callers copy the configuration into each call.

// ---- the transport and the service frame ----

// True when the Velvox service (not the user's own keys) transcribes and polishes.
bool usesService(const Config& config);
// Whether the user's own engines can take a dictation: a transcription server
// of their own with an address, else a Groq key.
bool ownTranscriptionReady(const Config& config);
// Whether polishing has somewhere to go: the service, or the chosen provider
// with its key (a server of the user's own with its address).
bool polishingReady(const Config& config);
// Always false: the service answers 401 for a missing sign-in instead.
bool needsSignIn(const Config& config);
// Sent as "X-Velvox-App" with every service request.
const std::string& appSecretForSettings();

// A POST to apiBase + path with the service's headers (60 s), or nothing
// when that is not a valid address. Reads config.json (token, install id).
std::optional<HttpRequest> serviceRequest(const std::string& path, const Config& config);

// Sends through the installed HTTP client: 2xx gives the body; any other
// status is logged (path only) and gives APIError::http; a network failure
// is passed on unchanged.
void send(HttpRequest request, DataCompletion completion);

// The same transport for callers that read every answer themselves: any HTTP
// answer is given whole, whatever its status (a status outside 2xx is still
// logged as send logs it); a network failure is passed on unchanged, and a
// reply that is not HTTP gives badResponse.
void exchange(HttpRequest request, AnswerCompletion completion);

// The service's own meaning of an HTTP failure (401, 402, 503), else the error unchanged.
ServiceError serviceError(ServiceError error);

// Bases of the providers; VELVOX_GROQ_BASE and VELVOX_ANTHROPIC_BASE replace them.
std::string groqBase();
std::string anthropicBase();

// ---- transcription of a finished recording (.m4a) ----

void transcribe(const std::string& file, Config config, TextCompletion completion);
void transcribeViaService(const std::string& file, Config config, TextCompletion completion);
void transcribeWithGroq(const std::string& file, Config config, TextCompletion completion);
// To the user's own OpenAI-compatible server (transcribeBaseUrl); "auto"
// falls back to WAV once when the server cannot read the recording.
void transcribeWithCustom(const std::string& file, Config config, TextCompletion completion);

// ---- polishing of a transcript (the result is trimmed and never empty) ----

void polish(const std::string& text, const std::string& system, Config config,
            TextCompletion completion);
void polishViaService(const std::string& text, const std::string& system, Config config,
                      TextCompletion completion);
void polishWithGroq(const std::string& text, const std::string& system, Config config,
                    TextCompletion completion);
void polishWithAnthropic(const std::string& text, const std::string& system, Config config,
                         TextCompletion completion);
void polishWithCustom(const std::string& text, const std::string& system, Config config,
                      TextCompletion completion);

// ---- warm-up ----

// Opens, without sending a request, the connection the next transcription
// will use, so that DNS and connecting happen while the user still speaks.
// Never fails loudly: an unreachable host is logged at most once a minute.
void warmUp(const Config& config);
void resetWarmUpLogForTesting();

}  // namespace velvox::API
