#pragma once

#include <string>
#include <utility>
#include <variant>

#include "base/Result.h"
#include "platform/HttpClient.h"
#include "services/APIError.h"

namespace velvox {

// Why a service call failed: the service's or provider's answer, or the
// network's own error, passed on unchanged.
using ServiceError = std::variant<APIError, TransportError>;

// The message a person sees for the error.
std::string describe(const ServiceError& error);

// A service call's outcome: a value or a ServiceError. Callers show the
// error's description and, where an answer's status matters, look at the
// service error behind it.
template <typename Value>
class ServiceResult : public Result<Value, ServiceError> {
  public:
    using Result<Value, ServiceError>::Result;
    ServiceResult(Result<Value, ServiceError> result)
        : Result<Value, ServiceError>(std::move(result)) {}

    // The service error, when the failure is one (not a network failure).
    const APIError* apiError() const {
        return this->ok() ? nullptr : std::get_if<APIError>(&this->error());
    }
    std::string errorDescription() const {
        return this->ok() ? std::string() : describe(this->error());
    }
};

// The outcome of a call that has nothing to give back on success.
using EmptyResult = ServiceResult<std::monostate>;

}  // namespace velvox
