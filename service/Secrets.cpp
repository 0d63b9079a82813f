#include "Secrets.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace velvox::service::Secrets {

std::string randomText() {
    unsigned char bytes[32];
    if (RAND_bytes(bytes, sizeof bytes) != 1) throw std::runtime_error("no random bytes");
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string text;
    unsigned bits = 0;
    int count = 0;
    for (unsigned char byte : bytes) {
        bits = (bits << 8) | byte;
        count += 8;
        while (count >= 6) {
            count -= 6;
            text.push_back(alphabet[(bits >> count) & 0x3F]);
        }
    }
    if (count > 0) text.push_back(alphabet[(bits << (6 - count)) & 0x3F]);
    return text;
}

std::string newToken() {
    return "ovk_" + randomText();
}

namespace {

std::string sha256(std::string_view text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(text.data(), text.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("SHA-256 failed");
    return std::string(reinterpret_cast<const char*>(digest), length);
}

}  // namespace

std::string digestBase64(std::string_view text) {
    std::string digest = sha256(text);
    unsigned char encoded[64];
    int length = EVP_EncodeBlock(encoded, reinterpret_cast<const unsigned char*>(digest.data()),
                                 static_cast<int>(digest.size()));
    return std::string(reinterpret_cast<const char*>(encoded), length);
}

std::string hash(std::string_view secret) {
    std::string digest = sha256(secret);
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text.push_back(hex[byte >> 4]);
        text.push_back(hex[byte & 0xF]);
    }
    return text;
}

bool equal(std::string_view a, std::string_view b) {
    // Compare digests so that the length of the secret does not show either.
    std::string left = hash(a), right = hash(b);
    return CRYPTO_memcmp(left.data(), right.data(), left.size()) == 0;
}

}  // namespace velvox::service::Secrets
