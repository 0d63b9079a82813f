#pragma once

// A self-signed certificate for 127.0.0.1, made at run time with the openssl
// command in a fresh temporary folder.

#include <unistd.h>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace velvox::testing {

struct TestCertificate {
    std::string folder;
    std::string certificate;  // also the CA file the client trusts
    std::string key;
    bool made = false;

    TestCertificate() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "velvox-tls-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        certificate = folder + "/cert.pem";
        key = folder + "/key.pem";
        std::string command =
            "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
            " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
            key + "' -out '" + certificate + "' >/dev/null 2>&1";
        made = std::system(command.c_str()) == 0;
    }
    ~TestCertificate() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    TestCertificate(const TestCertificate&) = delete;
    TestCertificate& operator=(const TestCertificate&) = delete;
};

}  // namespace velvox::testing
