#pragma once

// A test of a real desktop piece: a throw-away home and, as in the
// application, the GLib main queue.
#include <memory>
#include <string>

#include "linux/glib/GlibMainQueue.h"
#include "platform/Platform.h"
#include "support/TempHome.h"

namespace velvox::testing {

class DesktopTest : public TempHomeTest {
  protected:
    void SetUp() override {
        TempHomeTest::SetUp();
        Platform::installMainQueue(std::make_shared<GlibMainQueue>());
    }

    // How many log messages, from the `from`th on, start so.
    size_t logged(const std::string& start, size_t from = 0) const {
        return timesLogged(start, true, from);
    }
};

}  // namespace velvox::testing
