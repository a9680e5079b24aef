#include "tools/emulator/DeviceIdentity.h"

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "common/aVersion.h"

namespace emulator {

namespace {

using nlohmann::json;

bool sNumber(const json& value, uint64_t max, uint64_t& out) {
    if (value.is_number_unsigned()) {
        out = value.get<uint64_t>();
        return out <= max;
    }
    return value.is_string() && ParseNumber(value.get<std::string>(), max, out);
}

template <typename T>
bool sField(const json& object, const char* key, T& field, std::string& error) {
    if (!object.contains(key)) return true;
    uint64_t value = 0;
    if (!sNumber(object[key], static_cast<T>(~T{0}), value)) {
        error = std::string("bad value for \"") + key + "\"";
        return false;
    }
    field = static_cast<T>(value);
    return true;
}

}  // namespace

bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    value = strtoull(text.c_str(), &end, hex ? 16 : 10);
    return errno == 0 && end && *end == '\0' && text[0] != '-' && value <= max;
}

bool ParseVersion(const std::string& text, uint32_t& packed) {
    unsigned major, minor, patch;
    char extra;
    if (sscanf(text.c_str(), "%u.%u.%u%c", &major, &minor, &patch, &extra) == 3) {
        if (major > 255 || minor > 255 || patch > 255) return false;
        packed = aVersion_Pack(static_cast<uint8_t>(major), static_cast<uint8_t>(minor),
                               static_cast<uint8_t>(patch));
        return true;
    }
    uint64_t value;
    if (!ParseNumber(text, UINT32_MAX, value)) return false;
    packed = static_cast<uint32_t>(value);
    return true;
}

bool LoadIdentityJson(const std::string& text, DeviceIdentity& identity, std::string& error) {
    json object = json::parse(text, nullptr, false);
    if (object.is_discarded() || !object.is_object()) {
        error = "not a JSON object";
        return false;
    }
    if (!sField(object, "serialNumber", identity.serialNumber, error) ||
        !sField(object, "model", identity.model, error) ||
        !sField(object, "moduleAddress", identity.moduleAddress, error) ||
        !sField(object, "routerAddress", identity.routerAddress, error) ||
        !sField(object, "build", identity.build, error) ||
        !sField(object, "hardwareVersion", identity.hardwareVersion, error) ||
        !sField(object, "protocolFeatures", identity.protocolFeatures, error) ||
        !sField(object, "heartbeatMs", identity.heartbeatMs, error)) {
        return false;
    }
    if (object.contains("firmwareVersion")) {
        const json& v = object["firmwareVersion"];
        bool ok = v.is_number_unsigned()
                      ? (identity.firmwareVersion = v.get<uint32_t>(), true)
                      : v.is_string() && ParseVersion(v.get<std::string>(), identity.firmwareVersion);
        if (!ok) {
            error = "bad value for \"firmwareVersion\"";
            return false;
        }
    }
    if (object.contains("name")) {
        if (!object["name"].is_string()) {
            error = "bad value for \"name\"";
            return false;
        }
        identity.name = object["name"].get<std::string>();
    }
    if (object.contains("uniqueIdentifier")) {
        const json& words = object["uniqueIdentifier"];
        uint64_t value = 0;
        if (!words.is_array() || words.size() != 4) {
            error = "\"uniqueIdentifier\" takes four words";
            return false;
        }
        for (size_t i = 0; i < 4; i++) {
            if (!sNumber(words[i], UINT32_MAX, value)) {
                error = "bad value in \"uniqueIdentifier\"";
                return false;
            }
            identity.uniqueIdentifier[i] = static_cast<uint32_t>(value);
        }
    }
    if (identity.moduleAddress == 0 || (identity.moduleAddress & 1)) {
        error = "the module address must be even and not 0";
        return false;
    }
    return true;
}

bool LoadIdentityFile(const std::string& path, DeviceIdentity& identity, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return LoadIdentityJson(text.str(), identity, error);
}

}  // namespace emulator
