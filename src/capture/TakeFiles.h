#pragma once

#include <string>
#include <string_view>

// Where audio takes are written and how leftovers of earlier runs are found.
namespace velvox::TakeFiles {

// The user's temporary folder: TMPDIR, else /tmp.
std::string temporaryDirectory();

// A fresh path in the temporary folder: "<product>-<UUID>.m4a", the product
// name lower-cased and the UUID in upper case.
std::string newTakePath();

// Whether a file name is that of a take, of this product or of its earlier
// names. Age, extension and size play no part.
bool isTakeName(std::string_view fileName);

// Deletes every take in the temporary folder and answers how many were found
// (deleted or not). A folder that cannot be listed counts as empty.
int sweep();

// Deletes a file, ignoring any error.
void removeQuietly(const std::string& path);

}  // namespace velvox::TakeFiles
