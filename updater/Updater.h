/*
 * Updater.h - the one object through which the command line reaches every
 * update operation. It binds the update server URL, the store root and the
 * display; it owns nothing else, and each operation opens the store afresh.
 */
#pragma once

#include <cstdint>
#include <string>

#include "common/UpdaterDisplay.h"

class Updater {
public:
    Updater(const std::string& serverUrl, const std::string& storePath, UpdaterDisplayInterface& display);

    void Set_UEIBytes_Load(bool load) { ueiBytesLoad_ = load; }

    const std::string& ServerUrl() const { return serverUrl_; }
    const std::string& StorePath() const { return storePath_; }

private:
    std::string serverUrl_;
    std::string storePath_;
    UpdaterDisplayInterface& display_;
    uint8_t chipKind_ = 0;
    bool ueiBytesLoad_ = false;
};
