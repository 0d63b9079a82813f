#pragma once

#include <memory>
#include <type_traits>

namespace velvox {

// The platform registry is the set of every slot. A slot registers itself when
// it is made, so that Platform::resetForTesting() puts every service back to
// its default and no fake outlives the test that installed it.
class PlatformSlotBase {
  public:
    PlatformSlotBase();
    virtual ~PlatformSlotBase();
    PlatformSlotBase(const PlatformSlotBase&) = delete;
    PlatformSlotBase& operator=(const PlatformSlotBase&) = delete;

    virtual void reset() = 0;
};

// One entry of the platform registry: the installed implementation of a
// service, or a harmless default that does nothing until one is installed
// (none when Default is void: such a service must be installed before use).
// Each service's header declares Platform::NAME() and Platform::installNAME()
// and keeps its slot in its own .cpp.
template <typename Service, typename Default = void>
class PlatformSlot final : public PlatformSlotBase {
  public:
    Service& get() {
        if constexpr (!std::is_void_v<Default>) {
            if (!installed_) installed_ = std::make_shared<Default>();
        }
        return *installed_;
    }
    // The installed service, or null (the default is not made for this).
    Service* find() const { return installed_.get(); }
    void install(std::shared_ptr<Service> service) { installed_ = std::move(service); }
    void reset() override { installed_.reset(); }

  private:
    std::shared_ptr<Service> installed_;
};

}  // namespace velvox
