#include "app/Usage.h"

#include <cstdio>
#include <initializer_list>
#include <string>

#include "app/Parameters.h"
#include "common/Log.h"
#include "common/aVersion.h"
#include "server/UpdateServerRequest.h"

namespace {

struct HelpEntry {
    const char* option;
    std::initializer_list<const char*> lines;
    bool blankAfter;
};

void sHelp(const HelpEntry& entry) {
    bool first = true;
    for (const char* line : entry.lines) {
        if (first) {
            fprintf(stderr, "     %-25s- %s\n", entry.option, line);
            first = false;
        } else {
            fprintf(stderr, "%32s%s\n", "", line);
        }
    }
    if (entry.blankAfter) fputs("\n", stderr);
}

void sHelpBlock(const char* title, std::initializer_list<HelpEntry> entries) {
    fprintf(stderr, "%s\n", title);
    for (const HelpEntry& e : entries) sHelp(e);
}

void sShortUsage() {
    fprintf(stderr,
            "\n"
            "Application Usage:\n"
            "%s <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
            "    [-d serial_num]\n"
            "    [-t transport] [-r router_serial]\n"
            "    [-s serial_port] [-o baud_rate]\n"
            "\n"
            "  Quillcore Update and Maintenance Application\n"
            "    -H -h or --help for full usage information.\n"
            "\n"
            "\n",
            UPDATER_APP_NAME);
}

void sParametersAndCommands() {
    sHelpBlock(
        "  Parameters to commands:",
        {
            {"-i <tarnwell_directory>",
             {"The Tarnwell directory used for storage of ", "firmware files. [Default: ~/.tarnwell ]."},
             false},
            {"-b <build number>",
             {"Build version of the firmware to transfer.", "[Default: latest version available]."},
             false},
            {"-d <device>", {"Device serial number of the device to access."}, false},
            {"-t <transport type>", {"communications method [USB,TCP,RECOVER]."}, false},
            {"-f <bird file>", {"Firmware file to be transferred to device."}, false},
            {"-r <router serial>", {"indirect connection through router device"}, false},
            {"-s <serial port>", {"name of serial port to use for recovery"}, false},
            {"-o <baud rate>",
             {"baud rate for serial port (2400, 4800, 9600,", "19200, 38400, 57600, 115200, 230400)"},
             false},
        });
    sHelpBlock(
        "  Commands:",
        {
            {"-B", {"list the Builds available for given device."}, true},
            {"-L", {"list the local Builds available for given device."}, true},
            {"-D", {"Discover devices that are currently connected."}, true},
            {"-G",
             {"Get build file from the Tarnwell server and", "store on local machine for download to device.",
              "Must specify a specific device [\"-d\" option].",
              "Default is to obtain the latest build for the", "given device, override with \"-b\" option."},
             true},
            {"-U",
             {"Update the firmware on device specified.", "Must specify a specific device [\"-d\" option].",
              "Default is to download the latest build for the",
              "given device, override with \"-b\" option or",
              "specify specific BIRD file using \"-f\" option."},
             false},
            {"-J", {"Get a JWT containing the devices software features"}, false},
            {"-H or -h", {"Display extended usage information."}, true},
            {"--http", {"Use HTTP for the update server (" UPDATE_SERVER_HTTP_URL ")."}, false},
            {"--https",
             {"Use HTTPS for the update server (" UPDATE_SERVER_HTTPS_URL ").",
              "Recommended; HTTPS will be the default in the next major version."},
             false},
        });
}

struct PackageName {
    const char* name;
    uint32_t value;
    bool groupEnd;
};

constexpr PackageName kPackages[] = {
    {"DEBUG_Updater", DEBUG_Updater, false},
    {"DEBUG_History", DEBUG_History, false},
    {"DEBUG_Attributes", DEBUG_Attributes, false},
    {"DEBUG_BirdFile", DEBUG_BirdFile, false},
    {"DEBUG_Network", DEBUG_Network_Old, false},
    {"DEBUG_ServerComm", DEBUG_ServerComm, true},
    {"DEBUG_Network", DEBUG_Network, false},
    {"DEBUG_Network_SR", DEBUG_Network_SR, false},
    {"DEBUG_Network_FIRM", DEBUG_Network_FIRM, true},
    {"DEBUG_NXPSerial", DEBUG_NXPSerial, false},
    {"DEBUG_NXPSerial_E", DEBUG_NXPSerial_E, false},
    {"DEBUG_NXPSerial_SR", DEBUG_NXPSerial_SR, true},
    {"DEBUG_APP", DEBUG_APP, true},
    {"DEBUG_iMXSerial", DEBUG_iMXSerial, true},
};

void sPackageList() {
    fprintf(stderr, "     %-25s- %s\n", "-X <BIT_MASK>", "Bitmask for Logging");
    for (const PackageName& p : kPackages) {
        fprintf(stderr, "%32s%-20s0x%08X\n", "", p.name, p.value);
        if (p.groupEnd) fputs("\n", stderr);
    }
}

void sExtended() {
    sHelpBlock(
        "  Extended Parameters:",
        {
            {"-e", {"echoing of bytes enabled during recovery."}, true},
            {"-m", {"Attemps to use UEIBytes for faster loading"}, false},
            {"-l 'log message'", {"message to place in device history log"}, false},
            {"-k <filename>", {"log messages written into given filename", "Default:[APP.log]"}, false},
            {"-u <host:port>",
             {"The hostname and port of the update server", "Default: " UPDATE_SERVER_HOST ":port"},
             false},
        });
    sHelpBlock("  Extended Commands:",
               {
                   {"-I",
                    {"View stored device information.", "Must either use DISCOVER command [\"-D\"] or",
                     "specify a specific device [\"-d\" option]."},
                    true},
                   {"-OVERRIDE",
                    {"Override the model checks for BIRD firmware files.",
                     "This option should only be used when authorized by", "Tarnwell development engineers."},
                    true},
                   {"-N", {"Get fingerprint from a device, requires -s"}, true},
               });
    sPackageList();
    sHelp({"-C", {"Check the given BIRDFILE"}, true});
}

struct Sample {
    const char* command;
    std::initializer_list<const char*> lines;
    bool ownLine;
};

void sSamples(std::initializer_list<Sample> samples) {
    bool first = true;
    for (const Sample& s : samples) {
        if (!first) fputs("\n", stderr);
        first = false;
        bool firstLine = !s.ownLine;
        if (s.ownLine) fprintf(stderr, "%s\n", s.command);
        for (const char* line : s.lines) {
            fprintf(stderr, "%-31s%s\n", firstLine ? s.command : "", line);
            firstLine = false;
        }
    }
}

void sSampleUsage() {
    fputs(" Sample usage:\n", stderr);
    sSamples({
        {"-D",
         {"Discover all devices connected by either USB or TCPIP.",
          "Records the device information into the settings for that device."},
         false},
        {"-D -t USB",
         {"Discover all the devices connected by USB. Records the",
          "device information into the settings for that device."},
         false},
        {"-D -t USB -d 0F5849A",
         {"Discover settings of the specific device (serial number 0x40F5849A)"},
         false},
        {"-G -d 40F5849A",
         {"Get the latest firmware for the given device.",
          "Downloads the firmware file into the updater specific device directory."},
         false},
        {"-U -d 40F5849A",
         {"Update the firmware on the specific device.",
          "Without other options, this command will try to locate",
          "the latest firmware version to be used for updating the device."},
         false},
        {"-G -d 40F5849A -b 99528558",
         {"Get the specified build's firmware for the given device.",
          "Downloads the firmware file into the updater's specific",
          "device directory with the build number as the filename."},
         false},
        {"-G -U -d 40F5849A",
         {"Get the latest firmware for the given device.",
          "Downloads the firmware file into the updater specific",
          "device directory. After download, update the firmware", "using the latest release."},
         false},
        {"-U -t RECOVER -s /dev/serial",
         {"Update the firmware as described above, but uses the serial interface",
          "in communicating with the device to install the latest firmware."},
         false},
    });
    fputs("\n Sample usage for network discovery and updates:\n", stderr);
    sSamples({
        {"-D -r D272031D",
         {"Discover all devices connected to the I2C Quillcore network",
          "of the given routing device D272031D."},
         false},
        {"-G -U -d 2181F0EE -r D272031D",
         {"Get and Update to the latest firmware for device 2181F0EE",
          "indirectly through routing device D272031D."},
         true},
    });
}

}  // namespace

void _display_app_version(UpdaterDisplayInterface& display) {
    display.message(UpdaterDisplayInterface::INFO, "%s (%s)", UPDATER_APP_NAME,
                    (std::string("Version: ") + aVersion_GetString() + " " + __DATE__).c_str());
}

void _display_copyright(UpdaterDisplayInterface& display) {
    display.message(UpdaterDisplayInterface::INFO, "%s", UPDATER_COPYRIGHT);
}

void _display_usage(bool extended, bool full) {
    sShortUsage();
    if (full) sParametersAndCommands();
    if (full && extended) sExtended();
    if (full) sSampleUsage();
}

void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds,
                     uint32_t serial) {
    constexpr int kInfo = UpdaterDisplayInterface::INFO;
    if (builds.empty()) {
        display.message(kInfo, "No builds found for device [%08X]", serial);
        return;
    }
    display.message(kInfo, "Build List for device [%08X]:\n", serial);
    display.message(kInfo, "%-15.15s\t%-15.15s", "Build", "Version");
    for (const auto& [build, version] : UpdateServerRequest::SortBuildsByVersion(builds)) {
        display.message(kInfo, "%-15.15s\t%-15.15s", build.c_str(), version.c_str());
    }
}

void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint) {
    const uint32_t* w = fingerprint.words;
    display.message(UpdaterDisplayInterface::INFO, "[ %08X %08X %08X %08X ]", w[0], w[1], w[2], w[3]);
}

void _display_jwt(UpdaterDisplayInterface& display, const std::string& token) {
    display.message(UpdaterDisplayInterface::INFO, "%s", token.c_str());
}
