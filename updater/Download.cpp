#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <future>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "common/Log.h"
#include "common/aMemory.h"
#include "firmware/AtomicFile.h"
#include "firmware/BirdFile.h"
#include "firmware/UpdaterStore.h"
#include "server/UpdateServerRequest.h"
#include "updater/Updater.h"

namespace {

constexpr int kInfo = UpdaterDisplayInterface::INFO;
constexpr int kError = UpdaterDisplayInterface::ERROR;
constexpr auto kSpinnerPeriod = std::chrono::milliseconds(100);
/* Decoded bytes go to the file in spans of this size, a whole number of
 * pages, rather than one system call per received piece. */
constexpr size_t kWriteSpan = 1 << 20;
/* When a download has to be kept in memory: the most set aside ahead,
 * whatever the server announces, and the least room made when it grows. */
constexpr size_t kMostReserved = 192 << 20;
constexpr size_t kLeastGrowth = 1 << 20;

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

/* A build on its way from the server into the store. The decoded bytes go
 * to the store's temporary file in spans as they arrive, and the load check
 * reads them back through a mapping of that file: they are never held twice,
 * and little is left to do when the transfer ends. Only when the file cannot
 * be written are they kept in memory, so that the check, and with it the
 * message shown, is the same as for any other download. */
class BuildDownload : public UpdateServerRequest::BuildSink {
public:
    explicit BuildDownload(AtomicFileWriter file) : file_(std::move(file)) {
        inMemory_ = file_.Error() != aErrNone;
    }

    void Expect(size_t mostBytes) override {
        expected_ = std::min(mostBytes, kMostReserved);
        if (inMemory_) Reserve(expected_);
    }

    void Bytes(const uint8_t* data, size_t length) override {
        if (inMemory_) return Keep(data, length);
        if (span_.capacity() < kWriteSpan) span_.reserve(kWriteSpan);
        span_.insert(span_.end(), data, data + length);
        if (span_.size() >= kWriteSpan) WriteSpan();
    }

    /* The whole build, once the download has ended. */
    std::span<const uint8_t> Finish() {
        if (!inMemory_ && !span_.empty()) WriteSpan();
        if (inMemory_) return kept_;
        return file_.View();
    }

    AtomicFileWriter& File() { return file_; }

    UpdateServerRequest::BuildText text;  // what line 2 turned out to be, once the download succeeded

private:
    void WriteSpan() {
        if (file_.Append(span_.data(), span_.size()) != aErrNone) {
            // From now on in memory, starting with what the file already holds.
            inMemory_ = true;
            const std::span<const uint8_t> written = file_.View();
            Reserve(std::max(expected_, written.size() + span_.size()));
            Keep(written.data(), written.size());
            Keep(span_.data(), span_.size());
        }
        span_.clear();
    }

    void Keep(const uint8_t* data, size_t length) {
        if (kept_.capacity() - kept_.size() < length)
            Reserve(std::max({kept_.capacity() * 2, kept_.size() + length, kLeastGrowth}));
        kept_.insert(kept_.end(), data, data + length);
    }

    void Reserve(size_t capacity) {
        if (capacity <= kept_.capacity()) return;
        kept_.reserve(capacity);
        aMemory_AdviseHugePages(kept_.data(), kept_.capacity());
    }

    AtomicFileWriter file_;      // removes its temporary file unless committed
    std::vector<uint8_t> span_;  // decoded bytes not yet written
    bool inMemory_ = false;      // the file failed: the bytes are kept instead
    std::vector<uint8_t> kept_;
    size_t expected_ = 0;
};

bool _valid_build(uint32_t serial, uint32_t build, const std::string& url) {
    UpdateServerRequest::BuildList builds;
    if (!UpdateServerRequest::GetBuildList(serial, builds, url)) return false;
    for (const auto& entry : builds) {
        if (sBuildNumber(entry.first) == build) return true;
    }
    return false;
}

/* Runs the streaming GetBuild on a worker thread while the spinner turns;
 * the worker is always joined before the download is looked at. */
bool Updater::FetchBuild(uint32_t serial, const std::string& firmware, uint32_t build, bool noCalibration,
                         BuildDownload& download) {
    std::promise<bool> done;
    std::future<bool> result = done.get_future();
    std::thread worker(
        [&done, &download, serial, firmware, text = std::to_string(build), url = serverUrl_, noCalibration] {
            done.set_value(UpdateServerRequest::GetBuild(serial, firmware, text, download, download.text, url,
                                                         noCalibration));
        });
    display_.update_spinner(true, "Downloading");
    while (result.wait_for(kSpinnerPeriod) != std::future_status::ready)
        display_.update_spinner(true, "Downloading");
    display_.update_spinner(false, "Downloading");
    bool ok = result.get();
    worker.join();
    return ok;
}

/* Puts a downloaded build in place; false after showing why. The check (a
 * full load) runs while the file is synced; the file replaces the stored one
 * only when it passed. */
bool Updater::StoreBuild(BuildDownload& download, UpdaterStoreItem& device, uint32_t build) {
    const std::span<const uint8_t> bytes =
        download.text.valid ? download.Finish() : std::span<const uint8_t>();
    if (!BirdFile::VerifyData(bytes.data(), bytes.size())) {
        display_.message(kError, "Failed to retrieve a valid BIRD file");
        return false;
    }
    std::future<bool> loads = std::async(std::launch::async, [bytes] {
        BirdFile check;
        return check.LoadFromMemory(bytes.data(), bytes.size(), "download");
    });
    bool asked = false, valid = false;
    aErr err = download.File().Commit([&] {
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
    attributes.Add("LATEST_DOWNLOAD", std::to_string(build) + ".bird");
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
    BuildDownload download(device.FileWriter(std::to_string(build) + ".bird"));
    const bool fetched = FetchBuild(serial, firmware, build, noCalibration, download);
    if (!fetched) display_.message(kError, "Download failed");
    if (!fetched || download.text.length == 0) {
        display_.message(kError, "Failed to retrieve a valid BIRD file");
        return 0;
    }
    return StoreBuild(download, device, build) ? build : 0;
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
