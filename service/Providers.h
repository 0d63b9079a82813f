#pragma once

#include <memory>
#include <string>
#include <vector>

#include "Settings.h"
#include "platform/HttpClient.h"

namespace velvox::service {

struct ProviderResult {
    enum class Kind { text, tooLarge, badInput, unavailable };
    Kind kind = Kind::unavailable;
    std::string text;  // the transcript or the rewrite, trimmed
    double seconds = 0;  // of the audio, as the provider measured it (0: not said)
};

// Groq (and Anthropic for polishing, when the deployment has its key), reached
// with the service's own keys through the project's HTTP client. Each call
// blocks the request's worker until the provider answered.
class Providers {
  public:
    Providers(const Settings& settings, std::shared_ptr<HttpClient> client);

    ProviderResult transcribe(const std::string& audio, const std::vector<std::string>& vocabulary);
    // At most `maxTokens` of output (the providers' own bound is 2,048 here).
    ProviderResult polish(const std::string& system, const std::string& text, int maxTokens);

  private:
    HttpResult exchange(HttpRequest request);

    const Settings& settings_;
    std::shared_ptr<HttpClient> client_;
};

}  // namespace velvox::service
