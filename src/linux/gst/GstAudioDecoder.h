#pragma once

#include <string>

#include "platform/AudioDecoder.h"

namespace velvox {

// Decodes with a GStreamer pipeline of its own per call, waiting on that
// pipeline's bus: no main loop is needed, so any thread may call it, and
// calls on several threads do not share anything but the registry.
//
// A take (AAC in MP4, the recorder's only format) goes through a fixed chain
// that skips type finding and autoplugging; any other file, or an MP4 that
// chain cannot play, goes through decodebin.
class GstAudioDecoder final : public AudioDecoder {
  public:
    Result<std::string, std::string> decode(const std::string& path) override;
};

}  // namespace velvox
