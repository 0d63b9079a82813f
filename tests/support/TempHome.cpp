#include "support/TempHome.h"

#include "base/AppState.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "platform/Platform.h"

namespace velvox::testing {
namespace {

// The variables a test may change, put back afterwards.
constexpr const char* kVariables[] = {"HOME", "TMPDIR", "XDG_RUNTIME_DIR"};

// Everything that caches a path or a platform service starts afresh.
void resetGlobals() {
    Paths::resetForTesting();
    Log::resetForTesting();
    Platform::resetForTesting();
    AppState::resetForTesting();
}

}  // namespace

void TempHomeTest::SetUp() {
    Log::flush();
    for (const char* name : kVariables) {
        const char* value = std::getenv(name);
        saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    std::string pattern = std::filesystem::temp_directory_path() / "velvox-test-XXXXXX";
    home_ = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(home_ + "/tmp");
    setEnv("HOME", home_);
    setEnv("TMPDIR", home_ + "/tmp");
    resetGlobals();
    queue = installManualMainQueue();
    systemLog = std::make_shared<RecordingSystemLog>();
    Platform::installSystemLog(systemLog);
}

void TempHomeTest::TearDown() {
    Log::flush();
    queue->runUntilIdle();
    for (const auto& [name, value] : saved_) setEnv(name.c_str(), value);
    resetGlobals();
    std::error_code ignored;
    std::filesystem::remove_all(home_, ignored);
}

}  // namespace velvox::testing
