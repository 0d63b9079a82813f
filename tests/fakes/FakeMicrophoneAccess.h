#pragma once

#include <functional>
#include <vector>

#include "platform/MicrophoneAccess.h"

namespace velvox::testing {

// Microphone permission the test grants or refuses. Requests wait until the
// test answers them with answer().
class FakeMicrophoneAccess final : public MicrophoneAccess {
  public:
    MicrophoneAuthorization status() override { return authorization; }
    void requestAccess(std::function<void(bool granted)> completion) override {
        pending_.push_back(std::move(completion));
    }
    // Answers every waiting request; a grant also makes the status authorised.
    void answer(bool granted) {
        authorization =
            granted ? MicrophoneAuthorization::authorized : MicrophoneAuthorization::denied;
        for (auto& completion : std::exchange(pending_, {}))
            if (completion) completion(granted);
    }
    size_t pendingRequests() const { return pending_.size(); }
    MicrophoneAuthorization authorization = MicrophoneAuthorization::notDetermined;

  private:
    std::vector<std::function<void(bool)>> pending_;
};

}  // namespace velvox::testing
