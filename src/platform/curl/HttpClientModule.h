#pragma once

// The entry points of libvelvox-net.so, the HTTP client on libcurl, looked up
// by name after dlopen: its version, checked first, and the client's factory.

#include <string>

#include "base/LoadableModule.h"
#include "platform/HttpClient.h"

// Makes the libcurl client with the system's certificate authorities; the
// caller owns it.
extern "C" velvox::HttpClient* velvoxCreateHttpClient();

// Which build of the client the module holds (see the Home window's module).
extern "C" const char* velvoxHttpClientModuleVersion();

namespace velvox {
inline constexpr const char* kHttpClientFactory = "velvoxCreateHttpClient";
inline constexpr const char* kHttpClientVersion = "velvoxHttpClientModuleVersion";
inline constexpr const char* kHttpClientModule = "libvelvox-net.so";
// Moves on whenever the factory or the HttpClient interface changes.
inline constexpr int kHttpClientInterface = 1;
inline std::string httpClientModuleVersion() {
    return LoadableModule::version(kHttpClientInterface);
}
}  // namespace velvox
