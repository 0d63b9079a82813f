#pragma once

#include <curl/curl.h>

#include "platform/HttpClient.h"

namespace velvox {

// A transfer's failure in words a person can read. Deliberately without
// curl's own detail text, which may name the host.
TransportError transportErrorFor(CURLcode code);

}  // namespace velvox
