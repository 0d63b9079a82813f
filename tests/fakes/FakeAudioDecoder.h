#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/AudioDecoder.h"

namespace velvox::testing {

// Decodes every file to the samples the test sets (or fails with its reason),
// and keeps the paths it was asked for. Called from worker threads.
class FakeAudioDecoder final : public AudioDecoder {
  public:
    Result<std::string, std::string> decode(const std::string& path) override {
        std::lock_guard lock(mutex_);
        paths_.push_back(path);
        if (!failure.empty()) return Failure{failure};
        return samples;
    }
    std::vector<std::string> paths() const {
        std::lock_guard lock(mutex_);
        return paths_;
    }
    std::string samples = std::string("\x01\x00\xff\x7f", 4);
    std::string failure;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> paths_;
};

}  // namespace velvox::testing
