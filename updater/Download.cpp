#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "common/Log.h"
#include "firmware/BirdFile.h"
#include "firmware/UpdaterStore.h"
#include "server/UpdateServerRequest.h"
#include "updater/Updater.h"

namespace {

constexpr int kInfo = UpdaterDisplayInterface::INFO;
constexpr int kError = UpdaterDisplayInterface::ERROR;
constexpr auto kSpinnerPeriod = std::chrono::milliseconds(100);
/* A firmware text is tens of megabytes; two cores decode it in about half the time. */
constexpr unsigned kDecodeThreads = 2;

/* Optional blanks, then digits; what follows is ignored. False for a text
 * without leading digits or a number beyond 32 bits (it would name another
 * build). */
bool sReadBuild(const std::string& text, uint32_t& build) {
    const char* p = text.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    if (*p < '0' || *p > '9') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = strtoull(p, &end, 10);
    if (errno == ERANGE || value > UINT32_MAX) return false;
    build = static_cast<uint32_t>(value);
    return true;
}

/* A build text from the server as a number; logged and 0 when it is none. */
uint32_t sBuildNumber(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    unsigned long long value = text.empty() ? 0 : strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || value > UINT32_MAX || text[0] == '-') {
        Log::log(DEBUG_Updater, "Error: Could not convert %s to int.\n", text.c_str());
        return 0;
    }
    return static_cast<uint32_t>(value);
}

}  // namespace

bool _valid_build(uint32_t serial, uint32_t build, const std::string& url) {
    UpdateServerRequest::BuildList builds;
    if (!UpdateServerRequest::GetBuildList(serial, builds, url)) return false;
    for (const auto& entry : builds) {
        if (sBuildNumber(entry.first) == build) return true;
    }
    return false;
}

/* Runs GetBuild on a worker thread while the spinner turns; the worker is
 * always joined before its text is read. */
bool Updater::FetchBuild(uint32_t serial, const std::string& firmware, uint32_t build, bool noCalibration,
                         std::string& base64) {
    std::promise<bool> done;
    std::future<bool> result = done.get_future();
    std::thread worker(
        [&done, &base64, serial, firmware, text = std::to_string(build), url = serverUrl_, noCalibration] {
            done.set_value(UpdateServerRequest::GetBuild(serial, firmware, text, base64, url, noCalibration));
        });
    display_.update_spinner(true, "Downloading");
    while (result.wait_for(kSpinnerPeriod) != std::future_status::ready)
        display_.update_spinner(true, "Downloading");
    display_.update_spinner(false, "Downloading");
    bool ok = result.get();
    worker.join();
    return ok;
}

/* Checks the downloaded bytes and stores them; false after showing why. The
 * check (a full load) runs while the bytes are written; they replace the
 * stored file only when it passed. */
bool Updater::StoreBuild(UpdaterStoreItem& device, uint32_t build, std::string&& base64) {
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes =
        UpdateServerRequest::base64_decode(base64.data(), base64.size(), length, kDecodeThreads);
    std::string().swap(base64);  // the text is not needed any more
    if (!bytes || length == 0 || !BirdFile::VerifyData(bytes.get(), length)) {
        display_.message(kError, "Failed to retrieve a valid BIRD file");
        return false;
    }
    std::future<bool> loads = std::async(std::launch::async, [&bytes, length] {
        BirdFile check;
        return check.LoadFromMemory(bytes.get(), length, "download");
    });
    const std::string name = std::to_string(build) + ".bird";
    bool asked = false, valid = false;
    aErr err = device.WriteFile(name, bytes.get(), length, [&] {
        asked = true;
        return valid = loads.get();
    });
    if (!asked) valid = loads.get();  // the write failed before it asked
    if (!valid) {
        display_.message(kError, "Failed to retrieve a valid BIRD file");
        return false;
    }
    if (err != aErrNone) {
        display_.message(kError, "Failed to write file with %d", err);
        return false;
    }
    KeyValueStore& attributes = device.Attributes();
    attributes.Add("LATEST_DOWNLOAD", name);
    attributes.Add("LAST_DOWNLOAD_DATE", KeyValueStore::TimeStamp());
    attributes.Save();
    return true;
}

uint32_t Updater::Download_Firmware(uint32_t serial, const std::string& buildText, bool override_,
                                    bool noCalibration) {
    uint32_t build = 0;
    if (!buildText.empty() && !sReadBuild(buildText, build)) {
        display_.message(kError, "Build number '%s' must be an number", buildText.c_str());
        return 0;
    }
    if (serial == 0) {
        display_.message(kError, "Serial Number must be non-zero");
        return 0;
    }
    if (!UpdateServerRequest::ping(serverUrl_)) {
        display_.message(kError, "Server request failed for %s", serverUrl_.c_str());
        return 0;
    }
    std::unique_ptr<UpdaterStore> store = _createUpdaterStore(display_, storePath_, "Download_Firmware");
    if (!store) return 0;
    UpdaterStoreItem device;
    if (!store->FindDevice(serial, &device)) {
        Log::log(DEBUG_APP, "Could not find device in our update history.\n");
        try {
            device = store->AddDevice(serial);
        } catch (const std::exception&) {
            display_.message(kError, "Could not create directory for storing BIRD file");
            return 0;
        }
    }
    std::string latest, firmware;
    if (!UpdateServerRequest::QueryBuild(serial, latest, firmware, serverUrl_)) {
        display_.message(kError, "No build information for device");
        return 0;
    }
    if (build == 0) build = sBuildNumber(latest);
    if (build == 0) {
        // Asking for build 0 would store "0.bird" and still report failure.
        display_.message(kError, "No build information for device");
        return 0;
    }
    display_.message(kInfo, "Retrieving build %u", build);
    if (override_) {
        display_.message(kInfo, "Override specified, skipping validation of build %u", build);
    } else {
        display_.message(kInfo, "Validating build %u with server", build);
        if (!_valid_build(serial, build, serverUrl_)) {
            display_.message(kError, "No valid build %u", build);
            return 0;
        }
        display_.message(kInfo, "Build %u is valid", build);
    }
    std::string base64;
    if (!FetchBuild(serial, firmware, build, noCalibration, base64))
        display_.message(kError, "Download failed");
    if (base64.empty()) {
        display_.message(kError, "Failed to retrieve a valid BIRD file");
        return 0;
    }
    return StoreBuild(device, build, std::move(base64)) ? build : 0;
}

BuildList Updater::Get_BuildList(uint32_t serial) {
    BuildList builds;
    if (!UpdateServerRequest::ping(serverUrl_)) {
        display_.message(kError, "Server request failed for %s", serverUrl_.c_str());
    } else if (!UpdateServerRequest::GetBuildList(serial, builds, serverUrl_)) {
        display_.message(kError, "Failed to retrieve builds for %08X", serial);
    }
    return builds;
}

std::string Updater::Get_JWT(uint32_t serial) {
    std::string jwt;
    if (!UpdateServerRequest::ping(serverUrl_)) {
        display_.message(kError, "Server request failed for %s", serverUrl_.c_str());
    } else if (!UpdateServerRequest::GetDeviceJWT(serial, jwt, serverUrl_)) {
        display_.message(kError, "Failed to retrieve jwt for %08X", serial);
    }
    return jwt;
}
