#pragma once

#include <string>

#include "base/Result.h"
#include "config/Config.h"
#include "platform/HttpClient.h"
#include "services/ServiceResult.h"

namespace velvox::CustomServer {

// The two steps a server of the user's own can take on.
enum class Step { transcription, polishing };

// A checked server address: the part before /v1/..., as the user wrote it.
struct Server {
    Step step = Step::transcription;
    std::string base;  // without a trailing "/" or "/v1"
    std::string key;   // empty: no Authorization header
};

// The server of a step as the settings name it, or why no request may go
// there: not an address, or plain http:// to a public host (or with a key to
// anything but this computer), where the voice or the key would cross the
// network readable by anyone on the way.
Result<Server, std::string> of(const Config& config, Step step);

// The request to a route of the server ("/v1/audio/transcriptions"), with the
// key when there is one.
HttpRequest request(const Server& server, const std::string& route, double timeoutSeconds);

// How long the server may take for this much speech: a local machine without
// a graphics card may take longer than the speech lasted.
double timeoutSeconds(double speechSeconds, const Config& config);

// What the user is told when no answer came: the failure said about the
// server by its address.
APIError unreachable(const Server& server, const ServiceError& error, double timeoutSeconds);

// The text in the server's answer (found by `take` in its JSON), or what the
// user is told when the answer has none: the server's own words where it
// gave some, else what the answer looked like.
using TakeText = std::optional<std::string> (*)(const nlohmann::json& answer);
ServiceResult<std::string> textOf(const Server& server, const HttpResponse& response,
                                  TakeText take);

// True when the server refused the upload because it cannot read its format.
bool refusesAudio(const HttpResponse& response);

// Whether "auto" sends WAV to this server, because it once refused the
// recording as it is; and the note of it, kept in config.json (written on the
// main thread) and for this run of the program.
bool wantsWav(const Config& config, const Server& server);
void rememberWants(const Server& server);
void forgetRememberedForTesting();

}  // namespace velvox::CustomServer
