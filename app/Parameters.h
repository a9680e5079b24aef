/*
 * Parameters.h - what the command line asked for.
 */
#pragma once

#include <cstdint>
#include <string>

#include "server/UpdateServerRequest.h"

enum COMMANDS : uint32_t {
    CMD_DISCOVER = 0x00000001,
    CMD_UPDATE = 0x00000002,
    CMD_LIST_BUILDS = 0x00000004,
    CMD_GET = 0x00000008,
    CMD_INFO = 0x00000010,
    CMD_CHECK = 0x00000020,
    CMD_FINGERPRINT = 0x00000040,
    CMD_Z = 0x00000080,
    CMD_JWT = 0x00000100,
    CMD_LIST_LOCAL = 0x00000200,
    CMD_HELP = 0x80000000,
};

/* Any of these bits makes a run with a command (10, 16 and 17 are never set). */
constexpr uint32_t kAnyCommand = 0x000307FF;

class CommandsClass {
public:
    void Set(uint32_t command) { bits_ |= command; }
    bool IsSet(uint32_t command) const { return (bits_ & command) != 0; }
    uint32_t Bits() const { return bits_; }

private:
    uint32_t bits_ = 0;
};

enum Transport : uint32_t {
    TRANSPORT_INVALID = 0,
    TRANSPORT_USB = 1,
    TRANSPORT_TCPIP = 2,
    TRANSPORT_RECOVER = 255,
};

struct Parameters {
    CommandsClass commands;
    uint32_t deviceSerial = 0;
    uint32_t routerSerial = 0;
    uint32_t transport = TRANSPORT_USB;
    bool transportGiven = false;
    std::string serialPort;
    uint32_t baudRate = 115200;
    uint8_t moduleAddress = 0;
    std::string firmwareFile;
    std::string build;  // decimal build number; empty means the latest
    std::string serverUrl = UPDATE_SERVER_HTTP_URL;
    std::string storeDirectory;  // empty: the home directory joined with ".tarnwell"
    std::string appName;
    bool override_ = false;
    bool ueiBytesLoad = true;
    uint32_t logMask = 0;
    bool logMaskGiven = false;
    bool helpRequested = false;
};
