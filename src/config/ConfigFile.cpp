#include "config/ConfigFile.h"

#include "base/Files.h"
#include "base/Paths.h"
#include "config/Config.h"

namespace velvox::ConfigFile {

Result<nlohmann::json, ReadFailure> readObject() {
    auto content = Files::read(Paths::configURL());
    if (!content)
        return Files::exists(Paths::configURL()) ? ReadFailure::invalid : ReadFailure::missing;
    auto parsed = nlohmann::json::parse(*content, nullptr, /*allow_exceptions=*/false);
    if (parsed.is_discarded() || !parsed.is_object()) return ReadFailure::invalid;
    return parsed;
}

bool writeObject(const nlohmann::json& object) {
    // Invalid UTF-8 that came in through a hand edit must not make the write throw.
    std::string text = object.dump(2, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
    if (!Files::writeAtomically(Paths::configURL(), text, Files::kPrivateFileMode)) return false;
    Files::setMode(Paths::configURL(), Files::kPrivateFileMode);
    return true;
}

}  // namespace velvox::ConfigFile
