#include "base/NotificationCenter.h"

#include <algorithm>

namespace velvox {

NotificationCenter& NotificationCenter::defaultCenter() {
    static NotificationCenter center;
    return center;
}

Subscription NotificationCenter::observe(const std::string& name,
                                         std::function<void(const UserInfo&)> observer) {
    std::lock_guard lock(mutex_);
    uint64_t id = nextId_++;
    entries_.push_back(
        {id, name, std::make_shared<std::function<void(const UserInfo&)>>(std::move(observer))});
    return Subscription([this, id] {
        std::lock_guard lock(mutex_);
        std::erase_if(entries_, [id](const Entry& entry) { return entry.id == id; });
    });
}

void NotificationCenter::post(const std::string& name, const UserInfo& info) {
    std::vector<std::shared_ptr<std::function<void(const UserInfo&)>>> observers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& entry : entries_) {
            if (entry.name == name) observers.push_back(entry.observer);
        }
    }
    // Called outside the lock: an observer may post or unsubscribe.
    for (const auto& observer : observers) (*observer)(info);
}

}  // namespace velvox
