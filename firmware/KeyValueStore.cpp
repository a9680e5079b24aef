#include "firmware/KeyValueStore.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/Log.h"
#include "common/aFile.h"
#include "firmware/AtomicFile.h"

namespace {

constexpr size_t kLineBufferSize = 2048;

bool _is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

KeyValueStore::KeyValueStore(const std::string& fileName) {
    if (!fileName.empty()) Load(fileName);
}

std::string KeyValueStore::TimeStamp() {
    time_t now = time(nullptr);
    char text[32] = {};
    if (!ctime_r(&now, text)) return {};
    text[strcspn(text, "\n")] = '\0';
    return text;
}

void KeyValueStore::Load(const std::string& path) {
    if (path.empty()) return;
    aFileRef file = aFile_Open(path.c_str(), aFileModeReadOnly);
    if (!file) {
        int error = errno;
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file: '%s' (%d)\n",
                 path.c_str(), error);
        // Only a missing file is created; one that exists but cannot be read
        // is left alone rather than replaced by an empty store.
        struct stat st;
        if (stat(path.c_str(), &st) == 0 || errno != ENOENT) {
            fileName_ = path;
            return;
        }
        std::string stamp = TimeStamp();
        Add(KEY_CREATED_TIME, stamp);
        SaveStamped(path, stamp);
        return;
    }
    fileName_ = path;
    dirty_ = false;
    char line[kLineBufferSize];
    size_t length = 0;
    while (aFile_ReadLine(file, line, sizeof(line), &length) == aErrNone) ParseLine(line, length);
    aFile_Close(file);
}

void KeyValueStore::ParseLine(const char* line, size_t length) {
    if (length < 3 || line[0] == '#') return;
    const char* end = line + length;
    const char* p = line;
    while (p < end && _is_blank(*p)) ++p;
    const char* equals = static_cast<const char*>(memchr(p, '=', static_cast<size_t>(end - p)));
    if (!equals) return;  // not a key=value line
    const char* keyEnd = equals;
    while (keyEnd > p && _is_blank(keyEnd[-1])) --keyEnd;
    const char* value = equals + 1;
    while (value < end && _is_blank(*value)) ++value;
    const char* valueEnd = end;
    while (valueEnd > value && _is_blank(valueEnd[-1])) --valueEnd;
    entries_[std::string(p, keyEnd)] = std::string(value, valueEnd);
}

void KeyValueStore::Save(const std::string& path) { SaveStamped(path, TimeStamp()); }

void KeyValueStore::SaveStamped(const std::string& path, const std::string& stamp) {
    if (!path.empty()) {
        fileName_ = path;
    } else if (fileName_.empty()) {
        fileName_ = DEFAULT_FILENAME;
        Log::log(DEBUG_Attributes, "Attibutes: no filename given for attributes, using default:[%s]\n",
                 fileName_.c_str());
    }
    if (dirty_) entries_[KEY_UPDATED_TIME] = stamp;
    std::string text;
    for (const auto& [key, value] : entries_) text += key + "=" + value + "\n";
    int error = 0;
    if (AtomicFile_Write(fileName_, text.data(), text.size(), &error) != aErrNone) {
        Log::log(DEBUG_Attributes, "Attibutes: Error - cannot open attributes file for writting: '%s' (%d)\n",
                 fileName_.c_str(), error);
        return;
    }
    dirty_ = false;
}

std::optional<std::string> KeyValueStore::operator[](const std::string& key) const {
    auto it = entries_.find(key);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

std::string KeyValueStore::GetString(const std::string& key, const std::string& defaultValue) const {
    auto it = entries_.find(key);
    return it == entries_.end() ? defaultValue : it->second;
}

const std::string* KeyValueStore::TypedValue(const std::string& key) {
    const std::string& value = entries_[key];
    return value.empty() ? nullptr : &value;
}

int KeyValueStore::GetInt(const std::string& key, int defaultValue) {
    const std::string* value = TypedValue(key);
    return value ? atoi(value->c_str()) : defaultValue;
}

uint32_t KeyValueStore::GetHex(const std::string& key, uint32_t defaultValue) {
    const std::string* value = TypedValue(key);
    return value ? static_cast<uint32_t>(strtol(value->c_str(), nullptr, 16)) : defaultValue;
}

bool KeyValueStore::GetBOOL(const std::string& key, bool defaultValue) {
    const std::string* value = TypedValue(key);
    return value ? atoi(value->c_str()) != 0 : defaultValue;
}

double KeyValueStore::GetDouble(const std::string& key, double defaultValue) {
    const std::string* value = TypedValue(key);
    return value ? atof(value->c_str()) : defaultValue;
}

bool KeyValueStore::Add(const std::string& key, const std::string& value) {
    std::string& slot = entries_[key];
    if (slot != value) {
        slot = value;
        dirty_ = true;
    }
    return true;
}

bool KeyValueStore::Add(const std::string& key, int value) { return Add(key, std::to_string(value)); }

bool KeyValueStore::Add(const std::string& key, double value) {
    char text[512];
    snprintf(text, sizeof(text), "%f", value);
    return Add(key, std::string(text));
}

bool KeyValueStore::AddHex(const std::string& key, uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08X", value);
    return Add(key, std::string(text));
}

void KeyValueStore::Add(const KeyValueStore& other) {
    for (const auto& [key, value] : other.entries_) {
        entries_[key] = value;
        dirty_ = true;
    }
}

void KeyValueStore::Clear() {
    entries_.clear();
    dirty_ = true;
}
