#pragma once

#include <string>
#include <utility>
#include <variant>

#include "platform/HttpClient.h"
#include "services/APIError.h"

namespace velvox {

// Why a service call failed: the service's or provider's answer, or the
// network's own error, passed on unchanged.
using ServiceError = std::variant<APIError, TransportError>;

// The message a person sees for the error.
std::string describe(const ServiceError& error);

// A service call's outcome: a value or an error, never both.
template <typename Value>
class Result {
  public:
    Result(Value value) : state_(std::in_place_index<0>, std::move(value)) {}
    Result(APIError error) : state_(std::in_place_index<1>, std::move(error)) {}
    Result(TransportError error) : state_(std::in_place_index<1>, std::move(error)) {}
    Result(ServiceError error) : state_(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return state_.index() == 0; }
    const Value& value() const { return std::get<0>(state_); }
    Value& value() { return std::get<0>(state_); }
    const ServiceError& error() const { return std::get<1>(state_); }
    // The service error, when the failure is one (not a network failure).
    const APIError* apiError() const {
        return ok() ? nullptr : std::get_if<APIError>(&std::get<1>(state_));
    }
    std::string errorDescription() const { return ok() ? std::string() : describe(error()); }

  private:
    std::variant<Value, ServiceError> state_;
};

// The outcome of a call that has nothing to give back on success.
using EmptyResult = Result<std::monostate>;

}  // namespace velvox
