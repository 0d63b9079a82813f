#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/Handle.h"

namespace velvox {

using UserInfo = nlohmann::json;
using Subscription = Handle;

// The process's notification center: observers register for a name and are
// called synchronously, on the posting thread, for every post of that name.
class NotificationCenter {
  public:
    static NotificationCenter& defaultCenter();

    // Observes until the subscription is cancelled or destroyed.
    [[nodiscard]] Subscription observe(const std::string& name,
                                       std::function<void(const UserInfo&)> observer);
    void post(const std::string& name, const UserInfo& info = UserInfo());

  private:
    struct Entry {
        uint64_t id;
        std::string name;
        std::shared_ptr<std::function<void(const UserInfo&)>> observer;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    uint64_t nextId_ = 1;
};

}  // namespace velvox
