/*
 * KeyValueStore.h - a small persistent dictionary of text keys and values,
 * kept as "key=value" lines in a plain-text file. The firmware store keeps
 * one in every device directory.
 */
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

class KeyValueStore {
public:
    static constexpr const char* DEFAULT_FILENAME = ".settings";
    static constexpr const char* KEY_CREATED_TIME = "CREATED_TIME";
    static constexpr const char* KEY_UPDATED_TIME = "UPDATED_TIME";

    /* With a name the file is loaded at once (and created when missing). */
    explicit KeyValueStore(const std::string& fileName = "");

    void Load(const std::string& path);
    void Save(const std::string& path = "");

    /* The value, or nothing when the key is absent; never inserts. */
    std::optional<std::string> operator[](const std::string& key) const;
    std::string GetString(const std::string& key, const std::string& defaultValue = "") const;

    /* The typed getters insert an absent key with an empty value, which a
     * later save writes out as "key=". */
    int GetInt(const std::string& key, int defaultValue);
    uint32_t GetHex(const std::string& key, uint32_t defaultValue);
    bool GetBOOL(const std::string& key, bool defaultValue);
    double GetDouble(const std::string& key, double defaultValue);

    bool Add(const std::string& key, int value);
    bool Add(const std::string& key, double value);
    bool Add(const std::string& key, const std::string& value);
    bool Add(const std::string& key, const char* value) { return Add(key, std::string(value ? value : "")); }
    bool AddHex(const std::string& key, uint32_t value);
    /* Merge: every entry of the other store overwrites or adds here. */
    void Add(const KeyValueStore& other);
    void Clear();

    bool IsDirty() const { return dirty_; }
    const std::string& FileName() const { return fileName_; }
    const std::map<std::string, std::string>& Entries() const { return entries_; }

    /* The local time in ctime's 24-character form, without its newline. */
    static std::string TimeStamp();

private:
    void ParseLine(const char* line, size_t length);
    void SaveStamped(const std::string& path, const std::string& stamp);
    /* The value of a typed getter's key (inserted when absent); null when
     * the value is empty and the default applies. */
    const std::string* TypedValue(const std::string& key);

    std::string fileName_;
    std::map<std::string, std::string> entries_;
    bool dirty_ = false;
};
