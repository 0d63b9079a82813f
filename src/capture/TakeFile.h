#pragma once

#include <string>

namespace velvox {

// One audio take on disk with exactly one owner: the file is deleted when its
// owner lets go of it (goes out of scope, is reset or is replaced), unless it
// was released to be kept. Moving hands the ownership on.
class TakeFile {
  public:
    TakeFile() = default;
    // Owns the file at the path from now on.
    explicit TakeFile(std::string path) : path_(std::move(path)), owned_(!path_.empty()) {}
    // A file that belongs to someone else (one named on the command line):
    // it is read like any take and never deleted.
    static TakeFile borrowed(std::string path);
    ~TakeFile() { reset(); }
    TakeFile(TakeFile&& other) noexcept;
    TakeFile& operator=(TakeFile&& other) noexcept;
    TakeFile(const TakeFile&) = delete;
    TakeFile& operator=(const TakeFile&) = delete;

    explicit operator bool() const { return !path_.empty(); }
    const std::string& operator*() const { return path_; }
    const std::string& path() const { return path_; }

    // Deletes an owned file now (errors ignored); holds nothing afterwards.
    void reset();
    // Lets go of the file without deleting it and answers its path.
    std::string release();

  private:
    std::string path_;
    bool owned_ = false;
};

}  // namespace velvox
