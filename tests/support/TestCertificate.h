#pragma once

#include <cstdlib>
#include <string>

namespace velvox::testing {

// A self-signed certificate for 127.0.0.1 (also the authority a client may trust),
// made with the openssl command in a folder the caller owns.
struct TestCertificate {
    explicit TestCertificate(const std::string& folder)
        : certificate(folder + "/cert.pem"), key(folder + "/key.pem") {}

    std::string certificate, key;
    bool made = std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                             " -addext subjectAltName=IP:127.0.0.1,DNS:localhost -keyout '" +
                             key + "' -out '" + certificate + "' >/dev/null 2>&1")
                                .c_str()) == 0;
};

}  // namespace velvox::testing
