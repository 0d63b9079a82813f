#pragma once

#include <string>
#include <string_view>

namespace velvox::Wav {

// A RIFF/WAVE file of signed 16-bit little-endian PCM: the 44-byte header
// and the samples as given.
std::string fromPcm16(std::string_view samples, int sampleRate, int channels);

}  // namespace velvox::Wav
