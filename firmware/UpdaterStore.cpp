#include "firmware/UpdaterStore.h"

#include <cstdarg>
#include <cstdio>
#include <stdexcept>

#include "common/Log.h"
#include "common/aDirectory.h"
#include "common/aFile.h"
#include "firmware/AtomicFile.h"

namespace {

struct _Entry {
    std::string name;
    bool isDirectory = false;
};

std::string _leaf(const char* path) {
    std::string text(path);
    size_t slash = text.rfind('/');
    return slash == std::string::npos ? text : text.substr(slash + 1);
}

bool _is_dot_entry(const std::string& name) { return name == "." || name == ".."; }

struct _FindItem {
    const std::string* wanted = nullptr;
    bool found = false;
    _Entry entry;
};

bool _find_item(const aDirectoryListData* data, void* ref) {
    auto* search = static_cast<_FindItem*>(ref);
    std::string name = _leaf(data->path);
    if (_is_dot_entry(name)) return true;
    Log::log(DEBUG_Updater, "%s([%s], %d, %d) searching for %s\n", "_find_item", data->path,
             data->isDirectory, static_cast<int>(data->size), search->wanted->c_str());
    if (name.find(*search->wanted) == std::string::npos) return true;
    search->found = true;
    search->entry = {name, data->isDirectory};
    return false;
}

// The first entry of directory whose name contains wanted.
bool _find_entry(const std::string& directory, const std::string& wanted, _Entry* entry) {
    _FindItem search;
    search.wanted = &wanted;
    aDirectory_List(directory.c_str(), _find_item, &search);
    Log::log(DEBUG_Updater, "UpdaterStore: FindDevice %s %s.\n", search.found ? "Found" : "Not Found",
             wanted.c_str());
    if (search.found && entry) *entry = search.entry;
    return search.found;
}

bool _find_items(const aDirectoryListData* data, void* ref) {
    auto* entries = static_cast<std::vector<_Entry>*>(ref);
    std::string name = _leaf(data->path);
    if (_is_dot_entry(name)) return true;
    Log::log(DEBUG_Updater, "%s([%s], %d, %d)\n", "_find_items", data->path, data->isDirectory,
             static_cast<int>(data->size));
    if (name[0] != '.') entries->push_back({name, data->isDirectory});
    return true;
}

}  // namespace

std::string SerialText(uint32_t serialNumber) {
    char text[9];
    snprintf(text, sizeof(text), "%08X", serialNumber);
    return text;
}

std::string BuildPath(const char* first, ...) {
    std::string path(first ? first : "");
    va_list args;
    va_start(args, first);
    for (const char* part = va_arg(args, const char*); part; part = va_arg(args, const char*)) {
        path += aDIR_PATH_SEP;
        path += part;
    }
    va_end(args);
    return path;
}

void _ensure_directory(const std::string& path) {
    if (aDirectory_Exists(path.c_str())) {
        Log::log(DEBUG_Updater, "UpdaterStore: [%s] already exists.\n", path.c_str());
        return;
    }
    if (aFile_Exists(path.c_str()))
        throw std::runtime_error("UpdaterStore: " + path + " exists and is a file");
    aErr err = aDirectory_Ensure(path.c_str(), STORE_DIRECTORY_MODE);
    if (err != aErrNone)
        throw std::runtime_error("UpdaterStore: Could not create directory " + path + " error " +
                                 std::to_string(static_cast<unsigned>(err)));
    Log::log(DEBUG_Updater, "UpdaterStore: Created directory [%s].\n", path.c_str());
}

std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display, const std::string& root,
                                                  const std::string& operation) {
    try {
        return std::make_unique<UpdaterStore>(root);
    } catch (const std::runtime_error& e) {
        display.message(UpdaterDisplayInterface::ERROR,
                        "Failed to Create UpdaterStore in: %s - Exception: %s", operation.c_str(), e.what());
        return nullptr;
    }
}

UpdaterStoreItem::UpdaterStoreItem() : kind_(STORE_ITEM_NONE) {}

UpdaterStoreItem::UpdaterStoreItem(const std::string& base, const std::string& name, store_item_t kind)
    : base_(base), name_(name), kind_(kind) {
    attributes_.Load(BuildPath(base_.c_str(), name_.c_str(), KeyValueStore::DEFAULT_FILENAME, nullptr));
}

std::string UpdaterStoreItem::Path() const { return BuildPath(base_.c_str(), name_.c_str(), nullptr); }

BirdFile UpdaterStoreItem::ReadBirdFile(const std::string& fileName) const {
    std::string path = BuildPath(base_.c_str(), name_.c_str(), fileName.c_str(), nullptr);
    if (!BirdFile::VerifyFile(path)) throw std::runtime_error("Invalid bird " + path);
    return BirdFile(path);
}

aErr UpdaterStoreItem::WriteFile(const std::string& fileName, const uint8_t* data, size_t length,
                                 const AtomicFileCommit& commit) const {
    if (!data || length == 0) return aErrNotFound;
    return AtomicFile_Write(BuildPath(base_.c_str(), name_.c_str(), fileName.c_str(), nullptr), data, length,
                            nullptr, commit);
}

AtomicFileWriter UpdaterStoreItem::FileWriter(const std::string& fileName) const {
    return AtomicFileWriter(BuildPath(base_.c_str(), name_.c_str(), fileName.c_str(), nullptr));
}

bool UpdaterStoreItem::FileExists(const std::string& fileName) const {
    return _find_entry(Path(), fileName, nullptr);
}

UpdaterStore::UpdaterStore(const std::string& root) : root_(root) { _ensure_directory(root_); }

UpdaterStoreItem UpdaterStore::AddDevice(uint32_t serialNumber) {
    return AddDevice(SerialText(serialNumber));
}

UpdaterStoreItem UpdaterStore::AddDevice(const std::string& serialNumber) {
    _ensure_directory(BuildPath(root_.c_str(), serialNumber.c_str(), nullptr));
    return UpdaterStoreItem(root_, serialNumber, STORE_ITEM_DIRECTORY);
}

bool UpdaterStore::FindDevice(uint32_t serialNumber, UpdaterStoreItem* item) const {
    return FindDevice(SerialText(serialNumber), item);
}

bool UpdaterStore::FindDevice(const std::string& serialNumber, UpdaterStoreItem* item) const {
    _Entry entry;
    if (!_find_entry(root_, serialNumber, &entry)) return false;
    if (item)
        *item =
            UpdaterStoreItem(root_, entry.name, entry.isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    return true;
}

bool UpdaterStore::FindLocalBuilds(uint32_t serialNumber, std::vector<UpdaterStoreItem>& items) const {
    UpdaterStoreItem device;
    if (!FindDevice(serialNumber, &device)) return true;
    std::vector<_Entry> entries;
    const std::string directory = device.Path();
    aDirectory_List(directory.c_str(), _find_items, &entries);
    for (const _Entry& entry : entries)
        items.emplace_back(directory, entry.name, entry.isDirectory ? STORE_ITEM_DIRECTORY : STORE_ITEM_FILE);
    return true;
}
