#pragma once

#include <memory>

namespace velvox {

// One entry of the platform registry: the installed implementation of a
// service, or a harmless default that does nothing until one is installed.
// Each service's header declares Platform::NAME() and Platform::installNAME()
// and keeps its slot in its own .cpp.
template <typename Service, typename Default>
class PlatformSlot {
public:
    Service& get() {
        if (!installed_) installed_ = std::make_shared<Default>();
        return *installed_;
    }
    void install(std::shared_ptr<Service> service) { installed_ = std::move(service); }

private:
    std::shared_ptr<Service> installed_;
};

}  // namespace velvox
