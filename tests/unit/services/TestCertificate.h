#pragma once

// A self-signed certificate for 127.0.0.1, made at run time with the openssl
// command in a fresh temporary folder.

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velvox::testing {

struct TestCertificate {
    std::string folder = makeFolder();
    std::string certificate = folder + "/cert.pem";  // also the CA file the client trusts
    std::string key = folder + "/key.pem";
    bool made = std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                             " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                             key + "' -out '" + certificate + "' >/dev/null 2>&1")
                                .c_str()) == 0;

    TestCertificate() = default;
    ~TestCertificate() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;

    static std::string makeFolder() {
        auto pattern = (std::filesystem::temp_directory_path() / "velvox-tls-XXXXXX").string();
        return ::mkdtemp(pattern.data());
    }
};

}  // namespace velvox::testing
