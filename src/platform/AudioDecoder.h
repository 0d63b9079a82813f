#pragma once

#include <memory>
#include <string>

#include "base/Result.h"

namespace velvox {

// Reads a finished take back as plain samples, for speech servers that read
// only WAV. Rate and layout are fixed: what every speech model expects.
class AudioDecoder {
  public:
    static constexpr int kSampleRate = 16000;
    static constexpr int kChannels = 1;

    virtual ~AudioDecoder() = default;

    // The whole audio file at path as signed 16-bit little-endian samples at
    // kSampleRate, kChannels, or a readable reason why it could not be
    // decoded. Blocks for as long as decoding takes; safe on any thread.
    virtual Result<std::string, std::string> decode(const std::string& path) = 0;
};

namespace Platform {
AudioDecoder& audioDecoder();
void installAudioDecoder(std::shared_ptr<AudioDecoder> decoder);
}  // namespace Platform

}  // namespace velvox
