#include "app/Main.h"

#include <map>
#include <string>

#include "app/CliDisplay.h"
#include "app/Parameters.h"
#include "app/Params.h"
#include "app/Usage.h"
#include "common/Log.h"
#include "common/aDirectory.h"
#include "firmware/BirdSummary.h"
#include "updater/DeviceInfo.h"
#include "updater/Updater.h"

namespace {

constexpr int kInfo = UpdaterDisplayInterface::INFO;
constexpr int kError = UpdaterDisplayInterface::ERROR;
constexpr unsigned int kStoreMode = 0755;

/* The store path (root joined with "updater"), made sure of; empty on failure. */
std::string sEnsureStore(UpdaterDisplayInterface& display, const Parameters& params) {
    std::string root = params.storeDirectory;
    if (root.empty()) {
        char home[2048];
        aErr err = aDirectory_GetHomeDirectory(home, sizeof(home));
        if (err == aErrNone && !home[0]) err = aErrNotFound;  // never fall back to the working directory
        if (err != aErrNone) {
            Log::log(DEBUG_APP, "Updater: FailedaDirectory_GetHomeDirectory()==> %d\n", err);
            return {};
        }
        root = std::string(home) + aDIR_PATH_SEP + ".tarnwell";
    }
    char path[2048];
    if (aDirectory_JoinPath(path, sizeof(path), root.c_str(), "updater") != aErrNone ||
        aDirectory_Ensure(path, kStoreMode) != aErrNone) {
        display.message(kError, "Could not find updater directory at %s", path);
        return {};
    }
    return path;
}

/* -N: returns false when the run must end with status 1 at once. */
bool sFingerprint(UpdaterDisplayInterface& display, Updater& updater, const Parameters& params, int& status) {
    if (params.serialPort.empty()) {
        display.message(kInfo, "Must specify the serial port used for connecting");
        return false;
    }
    Fingerprint fingerprint;
    if (updater.Get_Fingerprint(fingerprint, params.serialPort, kPlaceholderSerial, params.firmwareFile,
                                params.baudRate, true)) {
        _display_fingerprint(display, fingerprint);
    } else {
        display.message(kError, "Got no response from chip");
        status = 1;
    }
    return true;
}

/* -G: returns false when the run must end with status 1 at once. */
bool sDownload(UpdaterDisplayInterface& display, Updater& updater, Parameters& params, int& status) {
    if (params.deviceSerial == 0) {
        display.message(kError, "-G must specify a specific device via -d");
        display.message(kError, "--help for usage information");
        return false;
    }
    display.message(kInfo, "Retrieving firmware for device with serial number %08X", params.deviceSerial);
    if (params.build.empty()) {
        display.message(kInfo, "No build specified");
        display.message(kInfo, "Using Latest build");
    } else {
        display.message(kInfo, "Retrieving firmware build %s", params.build.c_str());
    }
    uint32_t stored = updater.Download_Firmware(params.deviceSerial, params.build, params.override_, false);
    if (stored != 0) params.build = std::to_string(stored);
    status = stored != 0 ? 0 : 1;
    return true;
}

/* -C: checks the BIRD file given with -f; the run status tells the verdict. */
int sCheck(UpdaterDisplayInterface& display, const Parameters& params) {
    if (params.firmwareFile.empty()) {
        display.message(kError, "-C must specify the BIRD file to check via -f");
        return 1;
    }
    return PrintBirdSummary(params.firmwareFile, display) ? 0 : 1;
}

/* -I: what the store holds for the device: its attributes, then its builds. */
int sInfo(UpdaterDisplayInterface& display, Updater& updater, const Parameters& params) {
    if (params.deviceSerial == 0) {
        display.message(kError, "-I must specify a specific device via -d");
        return 1;
    }
    std::map<std::string, std::string> attributes;
    if (!updater.Get_StoredAttributes(params.deviceSerial, attributes)) {
        display.message(kError, "No stored information for device %08X", params.deviceSerial);
        return 1;
    }
    display.message(kInfo, "Stored information for device [%08X]:", params.deviceSerial);
    for (const auto& [key, value] : attributes) display.message(kInfo, "%s=%s", key.c_str(), value.c_str());
    _display_builds(display, updater.Get_BuildListLocal(params.deviceSerial), params.deviceSerial);
    return 0;
}

int sDiscover(UpdaterDisplayInterface& display, Updater& updater, const Parameters& params) {
    uint32_t transport =
        params.transportGiven && params.transport != TRANSPORT_RECOVER ? params.transport : 0;
    if (params.routerSerial != 0) {
        display.message(kInfo, "Searching for Quillcore Network devices connected to %08X",
                        params.routerSerial);
        updater.Discover_QCNetwork_Devices(params.routerSerial, transport);
    } else {
        display.message(kInfo, "Searching for Quillcore devices");
        updater.Discover_Devices(transport != 0 ? transport : TRANSPORT_USB);
    }
    // TODO(device discovery): print the list with _display_device_list.
    return 0;
}

int sUpdate(UpdaterDisplayInterface& display, Updater& updater, const Parameters& params) {
    const char* end = nullptr;
    uint32_t build = _get_int_arg(params.build.c_str(), &end);
    updater.Set_UEIBytes_Load(params.ueiBytesLoad);
    bool ok;
    if (params.transport == TRANSPORT_RECOVER) {
        ok = updater.Recover_Firmware(params.serialPort, build, params.baudRate, params.deviceSerial,
                                      params.firmwareFile, params.override_);
    } else if (params.deviceSerial == 0) {
        display.message(kInfo, "Must specify the specific device to be updated");
        return 1;
    } else {
        ok = updater.Update_Firmware(params.deviceSerial, build, params.firmwareFile, params.moduleAddress,
                                     params.routerSerial, params.override_);
    }
    return ok ? 0 : 1;
}

/* -B, -L and -J share their shape: a serial number is required, the result is printed. */
int sListing(UpdaterDisplayInterface& display, Updater& updater, const Parameters& params, uint32_t command) {
    const char* missing =
        command == CMD_LIST_BUILDS  ? "Error must supply a serial number for the List Builds command"
        : command == CMD_LIST_LOCAL ? "Error must supply a serial number for the List Local Builds command"
                                    : "Error must supply a serial number for the Get JWT command";
    if (params.deviceSerial == 0) {
        display.message(kInfo, "%s", missing);
        _display_usage(false, false);
        return 1;
    }
    if (command == CMD_JWT) {
        _display_jwt(display, updater.Get_JWT(params.deviceSerial));
    } else if (command == CMD_LIST_BUILDS) {
        _display_builds(display, updater.Get_BuildList(params.deviceSerial), params.deviceSerial);
    } else {
        _display_builds(display, updater.Get_BuildListLocal(params.deviceSerial), params.deviceSerial);
    }
    return 0;
}

int sRunCommands(UpdaterDisplayInterface& display, Parameters& params, const std::string& storePath) {
    Updater updater(params.serverUrl, storePath, display);
    int status = 0;
    if (params.commands.IsSet(CMD_FINGERPRINT) && !sFingerprint(display, updater, params, status)) return 1;
    if (params.commands.IsSet(CMD_GET) && !sDownload(display, updater, params, status)) return 1;
    if (params.commands.IsSet(CMD_CHECK)) status = sCheck(display, params);
    if (params.commands.IsSet(CMD_INFO)) status = sInfo(display, updater, params);
    if (params.commands.IsSet(CMD_DISCOVER)) return sDiscover(display, updater, params);
    if (params.commands.IsSet(CMD_UPDATE)) return sUpdate(display, updater, params);
    for (uint32_t command : {CMD_LIST_BUILDS, CMD_LIST_LOCAL, CMD_JWT}) {
        if (params.commands.IsSet(command)) return sListing(display, updater, params, command);
    }
    return status;
}

}  // namespace

int Updater_Main(int argc, char* const* argv) {
    Parameters params;
    CLI_Display display;
    Log::SetOutput(stderr);

    int parsed = _get_params(display, argc, argv, params);
    _display_app_version(display);
    if (parsed != 0) {
        _display_copyright(display);
        _display_usage(false, false);
        return 1;
    }
    if (params.helpRequested || !params.commands.IsSet(kAnyCommand)) {
        _display_copyright(display);
        _display_usage(params.logMaskGiven, params.helpRequested);
        return 0;
    }
    std::string storePath = sEnsureStore(display, params);
    if (storePath.empty()) return 1;
    return sRunCommands(display, params, storePath);
}
