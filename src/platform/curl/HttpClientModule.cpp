#include "platform/curl/HttpClientModule.h"

#include "platform/curl/CurlHttpClient.h"

extern "C" __attribute__((visibility("default"))) velvox::HttpClient* velvoxCreateHttpClient() {
    return new velvox::CurlHttpClient();
}

extern "C" __attribute__((visibility("default"))) const char* velvoxHttpClientModuleVersion() {
    static const std::string version = velvox::httpClientModuleVersion();
    return version.c_str();
}
