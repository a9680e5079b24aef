/*
 * Updater.h - the one object through which the command line reaches every
 * update operation. It binds the update server URL, the store root and the
 * display; it owns nothing else, and each operation opens the store afresh.
 */
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/UpdaterDisplay.h"
#include "updater/Fingerprint.h"

struct DeviceInfo;
class BuildDownload;
class UpdaterStoreItem;

/* Build number text to version text. */
using BuildList = std::map<std::string, std::string>;

class Updater {
public:
    Updater(const std::string& serverUrl, const std::string& storePath, UpdaterDisplayInterface& display);

    void Set_UEIBytes_Load(bool load) { ueiBytesLoad_ = load; }

    std::vector<DeviceInfo> Discover_Devices(uint32_t linkType);
    std::vector<DeviceInfo> Discover_QCNetwork_Devices(uint32_t routerSerial, uint32_t linkType);
    bool Update_Firmware(uint32_t serial, uint32_t build, const std::string& firmwareFile,
                         uint8_t moduleAddress, uint32_t routerSerial, bool override_);
    uint32_t Download_Firmware(uint32_t serial, const std::string& build, bool override_, bool quiet);
    BuildList Get_BuildList(uint32_t serial);
    BuildList Get_BuildListLocal(uint32_t serial);
    std::string Get_JWT(uint32_t serial);
    /* The device's stored attributes; false when the store has no directory for it. */
    bool Get_StoredAttributes(uint32_t serial, std::map<std::string, std::string>& attributes);
    bool Get_Fingerprint(Fingerprint& fingerprint, const std::string& port, uint32_t serial,
                         const std::string& firmwareFile, uint32_t baud, bool reset);
    bool Recover_Firmware(const std::string& port, uint32_t build, uint32_t baud, uint32_t serial,
                          const std::string& firmwareFile, bool override_);

    const std::string& ServerUrl() const { return serverUrl_; }
    const std::string& StorePath() const { return storePath_; }

private:
    bool FetchBuild(uint32_t serial, const std::string& firmware, uint32_t build, bool noCalibration,
                    BuildDownload& download);
    bool StoreBuild(BuildDownload& download, UpdaterStoreItem& device, uint32_t build);

    /* Shows that an operation's capability has not been built yet. */
    void NotAvailable(const char* operation);

    std::string serverUrl_;
    std::string storePath_;
    UpdaterDisplayInterface& display_;
    uint8_t chipKind_ = 0;
    bool ueiBytesLoad_ = false;
};

/* True when the server's build list for the device holds the build. */
bool _valid_build(uint32_t serial, uint32_t build, const std::string& url);
