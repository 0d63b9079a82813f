#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/LinuxCapture.h"
#include "platform/linux/LinuxDelivery.h"
#include "platform/linux/LinuxFeedback.h"
#include "platform/linux/LinuxHome.h"
#include "platform/linux/LinuxStatusItem.h"

namespace velvox {

void installLinuxPlatform() {
    installLinuxCapture();
    installLinuxDelivery();
    installLinuxFeedback();
    installLinuxStatusItem();
    installLinuxHome();
}

}  // namespace velvox
