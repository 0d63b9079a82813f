#include <algorithm>
#include <cstdio>
#include <set>

#include "base/Brand.h"
#include "base/Files.h"
#include "base/Log.h"
#include "base/Paths.h"
#include "base/Uuid.h"
#include "config/Config.h"
#include "config/ConfigFile.h"

namespace velvox {

namespace {

using Json = nlohmann::json;

std::string homeFolder() {
    // The settings folder sits directly in the home folder.
    const std::string& dir = Paths::dir();
    return dir.substr(0, dir.size() - Brand::folder.size());
}

bool isStringArray(const Json& value) {
    return value.is_array() && std::all_of(value.begin(), value.end(),
                                           [](const Json& item) { return item.is_string(); });
}

bool topUpVocabulary(Json& object) {
    auto stored = object.find("vocabulary");
    if (stored == object.end() || !isStringArray(*stored)) return false;
    auto present = stored->get<std::vector<std::string>>();
    std::set<std::string> have(present.begin(), present.end());
    int added = 0;
    for (const auto& word : Config::defaultVocabulary()) {
        if (have.count(word) == 0) {
            stored->push_back(word);
            ++added;
        }
    }
    if (added == 0) return false;
    Log::write("vocabulary topped up with " + std::to_string(added) + " terms");
    return true;
}

bool issueInstallIdentifier(Json& object) {
    auto stored = object.find("installID");
    if (stored != object.end() && stored->is_string() && !stored->get<std::string>().empty())
        return false;
    object["installID"] = makeUuid(UuidCase::lower);
    Log::write("new install id issued");
    return true;
}

long long storedPromptVersion(const Json& object) {
    auto stored = object.find("promptVersion");
    if (stored == object.end()) return 0;
    if (stored->is_boolean()) return stored->get<bool>() ? 1 : 0;
    if (stored->is_number_integer()) return stored->get<long long>();
    if (stored->is_number_float()) {
        double value = stored->get<double>();
        if (value != value) return 0;
        return static_cast<long long>(std::max(-1e18, std::min(1e18, value)));
    }
    return 0;
}

bool replaceOldPrompts(Json& object) {
    long long version = storedPromptVersion(object);
    if (version > 4) return false;
    object["systemPrompt"] = Config::defaultPrompt();
    object["boostSystemPrompt"] = Config::defaultBoostPrompt();
    object["promptModePrompt"] = Config::defaultPromptModePrompt();
    object["emailPrompt"] = Config::defaultEmailPrompt();
    object["messagePrompt"] = Config::defaultMessagePrompt();
    object["notePrompt"] = Config::defaultNotePrompt();
    object["promptVersion"] = Config::promptVersion;
    Log::write("prompts updated to version " + std::to_string(Config::promptVersion) + " from " +
               std::to_string(version));
    return true;
}

bool replaceRetiredModel(Json& object) {
    auto stored = object.find("cleanupModel");
    if (stored == object.end() || !stored->is_string()) return false;
    std::string old = stored->get<std::string>();
    const auto& retired = Config::retiredCleanupModels();
    if (std::find(retired.begin(), retired.end(), old) == retired.end()) return false;
    const std::string replacement = Config().cleanupModel;
    *stored = replacement;
    Log::write("cleanupModel " + old + " is retired, switched to " + replacement);
    return true;
}

bool addMissingKeys(Json& object) {
    bool changed = false;
    const Json templateKeys = Config::templateObject();
    for (const auto& [key, value] : templateKeys.items()) {
        if (!object.contains(key)) {
            object[key] = value;
            changed = true;
        }
    }
    return changed;
}

}  // namespace

void Config::migrateOldFolder() {
    if (Files::exists(Paths::configURL())) return;
    std::string home = homeFolder();
    const std::string* found = nullptr;
    for (const auto& name : Brand::previousFolders) {
        if (Files::exists(Files::join(home, name))) {
            found = &name;
            break;
        }
    }
    if (!found) return;
    const std::string& name = *found;
    std::string oldFolder = Files::join(home, name);

    std::string failure;
    if (!Files::createFolder(Paths::dir(), Files::kPrivateFolderMode, &failure)) {
        Log::error("could not migrate ~/" + name + ": " + failure);
        return;
    }
    for (const auto& item : Files::namesInside(oldFolder)) {
        std::string target = Files::join(Paths::dir(), item);
        if (Files::exists(target)) continue;  // the current folder's own copy wins
        if (auto moved = Files::rename(Files::join(oldFolder, item), target); !moved.ok()) {
            Log::error("could not migrate ~/" + name + ": " + moved.error());
            return;
        }
    }
    Files::setMode(Paths::dir(), Files::kPrivateFolderMode);
    Log::write("migrated settings from ~/" + name);
}

void Config::writeTemplateIfMissing() {
    Files::createFolder(Paths::dir());
    auto read = ConfigFile::readObject();
    if (!read.ok() && read.error() == ConfigFile::ReadFailure::invalid) {
        Log::write("config.json unreadable or invalid, leaving it untouched");
        return;
    }
    Json object = read.ok() ? std::move(read.value()) : Json::object();
    bool changed = false;
    changed |= topUpVocabulary(object);
    changed |= issueInstallIdentifier(object);
    changed |= replaceOldPrompts(object);
    changed |= replaceRetiredModel(object);
    changed |= addMissingKeys(object);
    if (changed) ConfigFile::writeObject(object);
}

}  // namespace velvox
