#include "app/Params.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/Log.h"

using SO = CSimpleOpt;

const CSimpleOpt::SOption g_rgOptions[] = {
    {OPT_COMMAND, "-B", SO::SO_NONE},
    {OPT_COMMAND, "-L", SO::SO_NONE},
    {OPT_COMMAND, "-D", SO::SO_NONE},
    {OPT_COMMAND, "-G", SO::SO_NONE},
    {OPT_COMMAND, "-I", SO::SO_NONE},
    {OPT_COMMAND, "-U", SO::SO_NONE},
    {OPT_COMMAND, "-OVERRIDE", SO::SO_NONE},
    {OPT_COMMAND, "-N", SO::SO_NONE},
    {OPT_COMMAND, "-Y", SO::SO_NONE},
    {OPT_COMMAND, "-C", SO::SO_NONE},
    {OPT_COMMAND, "-J", SO::SO_NONE},
    {OPT_HELP, "-h", SO::SO_NONE},
    {OPT_HELP, "-H", SO::SO_NONE},
    {OPT_PARAMETER, "-n", SO::SO_NONE},
    {OPT_PARAMETER, "-X", SO::SO_REQ},
    {OPT_PARAMETER, "-Z", SO::SO_REQ},
    {OPT_PARAMETER, "-m", SO::SO_REQ},
    {OPT_PARAMETER, "-i", SO::SO_REQ},
    {OPT_PARAMETER, "-b", SO::SO_REQ},
    {OPT_PARAMETER, "-d", SO::SO_REQ},
    {OPT_PARAMETER, "-t", SO::SO_REQ},
    {OPT_PARAMETER, "-f", SO::SO_REQ},
    {OPT_PARAMETER, "-r", SO::SO_REQ},
    {OPT_PARAMETER, "-s", SO::SO_REQ},
    {OPT_PARAMETER, "-o", SO::SO_REQ},
    {OPT_PARAMETER, "-e", SO::SO_NONE},
    {OPT_PARAMETER, "-l", SO::SO_REQ},
    {OPT_PARAMETER, "-k", SO::SO_REQ},
    {OPT_PARAMETER, "-u", SO::SO_REQ},
    {OPT_HELP, "--help", SO::SO_NONE},
    {OPT_HTTP, "--http", SO::SO_NONE},
    {OPT_HTTPS, "--https", SO::SO_NONE},
    {-1, nullptr, SO::SO_NONE},
};

namespace {

constexpr int kError = UpdaterDisplayInterface::ERROR;

uint32_t sParseDigits(const char* text, const char** end, int base, const char* digits) {
    if (!end || !text) return 0;
    uint64_t value = 0;
    for (const char* p = text; *p; ++p) {
        const char* d = strchr(digits, *p);
        if (!d) return 0;
        int v = base == 16 ? (*p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10) : *p - '0';
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(v);
        // A number that does not fit would name a different device or build.
        if (value > UINT32_MAX) return 0;
    }
    *end = text + strlen(text);
    return static_cast<uint32_t>(value);
}

bool sHasHexPrefix(const char* text) { return text[0] == '0' && (text[1] == 'x' || text[1] == 'X'); }

void sSetLogMask(UpdaterDisplayInterface& display, const char* option, const char* arg, Parameters& params) {
    params.logMaskGiven = true;
    char* rest = nullptr;
    unsigned long mask = strtoul(arg, &rest, sHasHexPrefix(arg) ? 16 : 10);
    if (rest && *rest) {
        display.message(kError, "Invalid format for \"%s\" parameter, unprocessed characters [%s]", option,
                        rest);
        return;
    }
    params.logMask |= static_cast<uint32_t>(mask);
    Log::ActivatePackage(static_cast<uint32_t>(mask));
}

/* -d and -r: a hexadecimal serial number, "0x" prefix allowed. */
bool sSetSerial(UpdaterDisplayInterface& display, const char* arg, uint32_t& serial, const char* discarding,
                const char* invalid) {
    if (sHasHexPrefix(arg)) {
        Log::log(DEBUG_Updater, "%s", discarding);
        arg += 2;
    }
    const char* end = nullptr;
    serial = _get_hex_arg(arg, &end);
    if (serial == 0) {
        display.message(kError, invalid, arg);
        return false;
    }
    return true;
}

bool sSetTransport(UpdaterDisplayInterface& display, const char* arg, Parameters& params) {
    params.transportGiven = true;
    if (strncmp(arg, "USB", 3) == 0) {
        params.transport = TRANSPORT_USB;
    } else if (strncmp(arg, "TCP", 3) == 0) {
        params.transport = TRANSPORT_TCPIP;
    } else if (strncmp(arg, "RECOVER", 7) == 0) {
        params.transport = TRANSPORT_RECOVER;
    } else {
        display.message(
            kError, "Invalid transport type:[%s]\nMust be one of the following: USB, TCPIP, RECOVER", arg);
        params.transport = TRANSPORT_INVALID;
        return false;
    }
    return true;
}

bool sCommandOption(UpdaterDisplayInterface& display, const char* option, Parameters& params) {
    switch (option[1]) {
        case 'B': params.commands.Set(CMD_LIST_BUILDS); return true;
        case 'L': params.commands.Set(CMD_LIST_LOCAL); return true;
        case 'D': params.commands.Set(CMD_DISCOVER); return true;
        case 'G': params.commands.Set(CMD_GET); return true;
        case 'I': params.commands.Set(CMD_INFO); return true;
        case 'U': params.commands.Set(CMD_UPDATE); return true;
        case 'N': params.commands.Set(CMD_FINGERPRINT); return true;
        case 'C': params.commands.Set(CMD_CHECK); return true;
        case 'J': params.commands.Set(CMD_JWT); return true;
        case 'O': params.override_ = true; return true;
        default: display.message(kError, "Unhandled command: [%s]", option); return false;
    }
}

/* Returns false when the option makes the parse fail. */
bool sParameterOption(UpdaterDisplayInterface& display, const char* option, const char* arg,
                      Parameters& params, int& serverChoices) {
    const char* a = arg ? arg : "";
    const char* end = nullptr;
    switch (option[1]) {
        case 'X': sSetLogMask(display, option, a, params); return true;
        case 'Z': params.commands.Set(CMD_Z); return true;
        case 'm': params.ueiBytesLoad = a[0] == '1' || strncmp(a, "true", 4) == 0; return true;
        case 'b': params.build = std::to_string(_get_int_arg(a, &end)); return true;
        case 'd':
            return sSetSerial(display, a, params.deviceSerial, "Discarding '0x' serial number prefix\n",
                              "Invalid serial number obtained from argument [%s]");
        case 'r':
            return sSetSerial(display, a, params.routerSerial,
                              "Discarding '0x' router serial number prefix\n",
                              "Invalid router serial number obtained from argument [%s]");
        case 't': return sSetTransport(display, a, params);
        case 'o': params.baudRate = _get_int_arg(a, &end); return true;
        case 'f': params.firmwareFile = a; return true;
        case 'i': params.storeDirectory = a; return true;
        case 's': params.serialPort = a; return true;
        case 'e':
        case 'n':
        case 'l':
        case 'k': return true;
        case 'u':
            params.serverUrl = a;
            ++serverChoices;
            return true;
        default:
            if (arg) {
                display.message(kError, "Unhandled option: [%s][%s]", option, arg);
            } else {
                display.message(kError, "Unhandled option: [%s]", option);
            }
            return false;
    }
}

std::string sAppName(const char* word) {
    std::string name(word ? word : "");
    size_t cut = name.find_last_of("/\\");
    return cut == std::string::npos ? name : name.substr(cut + 1);
}

}  // namespace

uint32_t _get_hex_arg(const char* text, const char** end) {
    return sParseDigits(text, end, 16, "0123456789ABCDEFabcdef");
}

uint32_t _get_int_arg(const char* text, const char** end) {
    return sParseDigits(text, end, 10, "0123456789");
}

int _validate_params(Parameters&) { return 0; }

int _get_params(UpdaterDisplayInterface& display, int argc, char* const* argv, Parameters& params) {
    params.appName = sAppName(argc > 0 ? argv[0] : nullptr);
    CSimpleOpt args(argc, argv, g_rgOptions);
    bool failed = false;
    int serverChoices = 0;
    while (args.Next()) {
        if (args.LastError() != CSimpleOpt::SO_SUCCESS) continue;  // dropped without a word
        const char* option = args.OptionText();
        switch (args.OptionId()) {
            case OPT_HELP:
                params.commands.Set(CMD_HELP);
                params.helpRequested = true;
                return 0;
            case OPT_HTTPS:
                params.serverUrl = UPDATE_SERVER_HTTPS_URL;
                ++serverChoices;
                break;
            case OPT_HTTP:
                params.serverUrl = UPDATE_SERVER_HTTP_URL;
                ++serverChoices;
                break;
            case OPT_COMMAND: failed |= !sCommandOption(display, option, params); break;
            case OPT_PARAMETER:
                failed |= !sParameterOption(display, option, args.OptionArg(), params, serverChoices);
                break;
            default: display.message(kError, "Invalid argument: %s", option); failed = true;
        }
    }
    if (serverChoices > 1) {
        display.message(
            kError,
            "Multiple update server URLs specified. Choose one of: --https, --http, or -U <host:port>.");
        failed = true;
    }
    Log::log(DEBUG_APP, "\nApplication parameters:[%s]\n", params.appName.c_str());
    for (int i = 0; i < argc; ++i) Log::log(DEBUG_APP, "\t[%s]\n", argv[i]);
    if (failed) return 1;
    return _validate_params(params);
}
