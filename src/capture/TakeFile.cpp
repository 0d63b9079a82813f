#include "capture/TakeFile.h"

#include <filesystem>
#include <system_error>
#include <utility>

namespace velvox {

TakeFile TakeFile::borrowed(std::string path) {
    TakeFile file(std::move(path));
    file.owned_ = false;
    return file;
}

TakeFile::TakeFile(TakeFile&& other) noexcept
    : path_(std::exchange(other.path_, {})), owned_(std::exchange(other.owned_, false)) {}

TakeFile& TakeFile::operator=(TakeFile&& other) noexcept {
    if (this != &other) {
        reset();
        path_ = std::exchange(other.path_, {});
        owned_ = std::exchange(other.owned_, false);
    }
    return *this;
}

void TakeFile::reset() {
    if (owned_ && !path_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    path_.clear();
    owned_ = false;
}

std::string TakeFile::release() {
    owned_ = false;
    return std::exchange(path_, {});
}

}  // namespace velvox
