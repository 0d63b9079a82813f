#include "services/APIError.h"

namespace velvox {

APIError APIError::noKey(std::string provider) {
    return {Kind::noKey, std::move(provider)};
}

APIError APIError::http(int status, std::string body) {
    APIError error{Kind::http, std::move(body)};
    error.status = status;
    return error;
}

APIError APIError::allowanceUsed(int64_t used, int64_t cap) {
    APIError error{Kind::allowanceUsed};
    error.used = used;
    error.cap = cap;
    return error;
}

APIError APIError::trialOver(int64_t freeGoes) {
    APIError error{Kind::trialOver};
    error.cap = freeGoes;
    return error;
}

APIError APIError::message(std::string text) {
    return {Kind::message, std::move(text)};
}
APIError APIError::badResponse() {
    return {Kind::badResponse};
}
APIError APIError::serviceNotReady() {
    return {Kind::serviceNotReady};
}
APIError APIError::signedOut() {
    return {Kind::signedOut};
}

namespace {

std::string httpDescription(int status) {
    if (status == 401 || status == 403) return "API key rejected";
    if (status == 404) return "Model unavailable";
    if (status == 413) return "Recording too long";
    if (status == 429) return "Rate limited, wait a moment";
    if (status >= 500 && status <= 599) return "Service unavailable, try again";
    return "Request failed (" + std::to_string(status) + ")";
}

}  // namespace

std::string APIError::errorDescription() const {
    switch (kind) {
        case Kind::noKey:
            return "No " + text + " API key set";
        case Kind::http:
            return httpDescription(status);
        case Kind::allowanceUsed:
            return "Free allowance used, " + std::to_string(cap) + " words a week";
        case Kind::trialOver:
            return "That was your " + std::to_string(cap) + " free goes. Sign in to keep going";
        case Kind::message:
            return text;
        case Kind::badResponse:
            return "Unexpected response";
        case Kind::serviceNotReady:
            return "Velvox's service is not available";
        case Kind::signedOut:
            return "Sign in to Velvox to dictate";
    }
    return "Unexpected response";
}

}  // namespace velvox
