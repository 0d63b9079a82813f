#include "services/ServiceResult.h"

namespace velvox {

std::string describe(const ServiceError& error) {
    if (const auto* api = std::get_if<APIError>(&error)) return api->errorDescription();
    return std::get<TransportError>(error).message;
}

}  // namespace velvox
