#include "services/Wav.h"

#include <cstdint>

namespace velvox::Wav {

namespace {

void appendLittleEndian(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
}

}  // namespace

std::string fromPcm16(std::string_view samples, int sampleRate, int channels) {
    constexpr uint32_t kBytesPerSample = 2;
    // A WAVE file counts its size in 32 bits; a take is far below that, and
    // an odd byte would split a sample.
    auto size = static_cast<uint32_t>(samples.size() & ~static_cast<size_t>(1));
    std::string out;
    out.reserve(44 + size);
    out += "RIFF";
    appendLittleEndian(out, 36 + size, 4);
    out += "WAVEfmt ";
    appendLittleEndian(out, 16, 4);  // size of the format chunk
    appendLittleEndian(out, 1, 2);   // PCM
    appendLittleEndian(out, static_cast<uint32_t>(channels), 2);
    appendLittleEndian(out, static_cast<uint32_t>(sampleRate), 4);
    appendLittleEndian(out, static_cast<uint32_t>(sampleRate) * channels * kBytesPerSample, 4);
    appendLittleEndian(out, static_cast<uint32_t>(channels) * kBytesPerSample, 2);
    appendLittleEndian(out, 8 * kBytesPerSample, 2);
    out += "data";
    appendLittleEndian(out, size, 4);
    out.append(samples.substr(0, size));
    return out;
}

}  // namespace velvox::Wav
