#include <cstring>

#include "common/Log.h"
#include "firmware/BirdFile.h"
#include "firmware/UpdaterStore.h"
#include "updater/Updater.h"

namespace {

/* The version text of a stored BIRD file; empty when the file is no BIRD file
 * or does not load. */
std::string sStoredVersion(const std::string& path) {
    if (BirdFile::VerifyFile(path)) {
        BirdFile bird;
        if (bird.Load(path)) {
            std::string version = bird.GetVersion();
            if (!version.empty())
                Log::log(DEBUG_Updater, "Found VERSION in birdfile: %s - Version: \n", path.c_str());
            return version;
        }
    }
    Log::log(DEBUG_Updater, "Could NOT file VERSION in birdfile: %s\n", path.c_str());
    return {};
}

}  // namespace

BuildList Updater::Get_BuildListLocal(uint32_t serial) {
    BuildList builds;
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display_, storePath_, "Get_BuildListLocal");
    if (!store) return builds;
    std::vector<UpdaterStoreItem> items;
    store->FindLocalBuilds(serial, items);
    for (const UpdaterStoreItem& item : items) {
        const std::string& name = item.Name();
        std::string key = name.substr(0, name.find(".bird"));
        std::string version;
        if (item.IsValid()) version = sStoredVersion(item.BasePath() + "/" + name);
        builds.emplace(key, version);  // an existing key keeps its first value
    }
    return builds;
}

bool Updater::Get_StoredAttributes(uint32_t serial, std::map<std::string, std::string>& attributes) {
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display_, storePath_, "Get_StoredAttributes");
    UpdaterStoreItem item;
    if (!store || !store->FindDevice(serial, &item)) return false;
    attributes = item.Attributes().Entries();
    return true;
}
