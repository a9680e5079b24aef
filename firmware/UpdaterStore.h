/*
 * UpdaterStore.h - the per-user firmware store: one directory per device
 * serial number ("%08X") under the store root, holding the BIRD files
 * fetched for the device ("NNNN.bird") and its attributes file (".settings").
 * The store is opened afresh for every operation; nothing is cached.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/UpdaterDisplay.h"
#include "common/aDefs.h"
#include "firmware/AtomicFile.h"
#include "firmware/BirdFile.h"
#include "firmware/KeyValueStore.h"

enum store_item_t {
    STORE_ITEM_FILE = 0,
    STORE_ITEM_DIRECTORY = 1,
    STORE_ITEM_NONE = 2,
};

/* Permission bits of every directory the store makes. */
constexpr unsigned int STORE_DIRECTORY_MODE = 0755;

/* One directory or file of the store with its attributes. */
class UpdaterStoreItem {
public:
    UpdaterStoreItem();
    /* Binds the item and loads base/name/.settings. */
    UpdaterStoreItem(const std::string& base, const std::string& name, store_item_t kind);

    bool IsValid() const { return !base_.empty() && !name_.empty(); }

    /* Throws "Invalid bird <path>" for a file that is not a BIRD file, and
     * passes on the loader's "Failed to load bird data". */
    BirdFile ReadBirdFile(const std::string& fileName) const;
    /* Replaces base/name/fileName atomically. aErrNotFound when there are no
     * bytes or the file cannot be created, aErrIO when writing fails,
     * aErrCancel when commit (asked before the replacement) said no. */
    aErr WriteFile(const std::string& fileName, const uint8_t* data, size_t length,
                   const AtomicFileCommit& commit = nullptr) const;
    /* A writer that replaces base/name/fileName as a whole when committed,
     * for bytes that arrive piece by piece. */
    AtomicFileWriter FileWriter(const std::string& fileName) const;
    bool FileExists(const std::string& fileName) const;

    const std::string& BasePath() const { return base_; }
    const std::string& Name() const { return name_; }
    store_item_t Kind() const { return kind_; }
    /* base/name */
    std::string Path() const;
    KeyValueStore& Attributes() { return attributes_; }
    const KeyValueStore& Attributes() const { return attributes_; }

private:
    std::string base_;
    std::string name_;
    store_item_t kind_;
    KeyValueStore attributes_;
};

class UpdaterStore {
public:
    /* Makes sure of the root; throws the errors of _ensure_directory. */
    explicit UpdaterStore(const std::string& root);

    const std::string& BasePath() const { return root_; }

    /* Makes sure of root/serial and returns it with its attributes, which
     * creates the attributes file on first use. */
    UpdaterStoreItem AddDevice(uint32_t serialNumber);
    UpdaterStoreItem AddDevice(const std::string& serialNumber);

    /* The first root entry whose name contains the serial text; binds item
     * to it when one is given. */
    bool FindDevice(uint32_t serialNumber, UpdaterStoreItem* item = nullptr) const;
    bool FindDevice(const std::string& serialNumber, UpdaterStoreItem* item = nullptr) const;

    /* Appends the device directory's entries that do not begin with "." in
     * listing order. Always true. */
    bool FindLocalBuilds(uint32_t serialNumber, std::vector<UpdaterStoreItem>& items) const;

private:
    std::string root_;
};

/* The store on root, or none after showing "Failed to Create UpdaterStore
 * in: <operation> - Exception: <text>". */
std::unique_ptr<UpdaterStore> _createUpdaterStore(UpdaterDisplayInterface& display, const std::string& root,
                                                  const std::string& operation);

/* Makes sure path is a directory; throws std::runtime_error otherwise. */
void _ensure_directory(const std::string& path);

/* Joins the components up to the nullptr end marker with "/" as they are:
 * no separator is removed or merged. */
std::string BuildPath(const char* first, ...) __attribute__((sentinel));

/* The serial number as the store names its directory: "%08X". */
std::string SerialText(uint32_t serialNumber);
