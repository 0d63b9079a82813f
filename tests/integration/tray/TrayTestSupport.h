#pragma once

#include <glib.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/MainLoop.h"
#include "support/TempHome.h"

namespace velvox::testing {

// Names of the files in a folder, sorted.
std::vector<std::string> filesIn(const std::string& folder);

class TrayTest : public TempHomeTest {
  protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)) << "no display"; }
    std::string iconFolder() const { return home() + "/run/velvox-icons"; }
};

}  // namespace velvox::testing
