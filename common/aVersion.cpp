#include "common/aVersion.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

constexpr uint8_t kMajor = 2;
constexpr uint8_t kMinor = 12;
constexpr uint8_t kPatch = 2;
constexpr const char* kPhase = ".";

struct Feature {
    const char* name;
    const char* description;
};

constexpr Feature kFeatures[] = {
    {"VERSION", "Version Query API"},
};

char sVersionText[15];

}  // namespace

uint8_t aVersion_GetMajor() { return kMajor; }
uint8_t aVersion_GetMinor() { return kMinor; }
uint8_t aVersion_GetPatch() { return kPatch; }

const char* aVersion_GetString() {
    if (!sVersionText[0])
        snprintf(sVersionText, sizeof(sVersionText), "%d.%d%s%d", kMajor, kMinor, kPhase, kPatch);
    return sVersionText;
}

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch) {
    if (major > 2 || (major == 2 && minor >= 15)) {
        return 0x2F000000u | static_cast<uint32_t>(major) << 16 | static_cast<uint32_t>(minor) << 8 | patch;
    }
    return static_cast<uint32_t>(major) << 28 | static_cast<uint32_t>(minor & 0xF) << 24 | patch;
}

bool aVersion_IsLegacyFormat(uint32_t packed) {
    uint8_t major = static_cast<uint8_t>(packed >> 28);
    uint8_t minor = static_cast<uint8_t>((packed >> 24) & 0xF);
    return aVersion_IsAtLeastCompare(2, 15, 0, major, minor, 255);
}

uint32_t aVersion_ParseMajor(uint32_t packed) {
    return aVersion_IsLegacyFormat(packed) ? packed >> 28 : (packed >> 16) & 0xFF;
}

uint32_t aVersion_ParseMinor(uint32_t packed) {
    return aVersion_IsLegacyFormat(packed) ? (packed >> 24) & 0xF : (packed >> 8) & 0xFF;
}

uint32_t aVersion_ParsePatch(uint32_t packed) {
    return aVersion_IsLegacyFormat(packed) ? packed & 0xFFFFFF : packed & 0xFF;
}

int aVersion_ParseString(uint32_t packed, char* buffer, size_t size) {
    return snprintf(buffer, buffer ? size : 0, "%u.%u.%u", aVersion_ParseMajor(packed),
                    aVersion_ParseMinor(packed), aVersion_ParsePatch(packed));
}

bool aVersion_IsAtLeastCompare(uint8_t major1, uint8_t minor1, uint8_t patch1, uint8_t major2, uint8_t minor2,
                               uint8_t patch2) {
    if (major1 != major2) return major1 > major2;
    if (minor1 != minor2) return minor1 > minor2;
    return patch1 >= patch2;
}

bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch) {
    return aVersion_IsAtLeastCompare(kMajor, kMinor, kPatch, major, minor, patch);
}

bool aVersion_HasFeature(const char* name) {
    if (!name) return false;
    for (const Feature& f : kFeatures) {
        if (strcmp(f.name, name) == 0) return true;
    }
    return false;
}

char* aVersion_GetFeatureList() {
    std::string text;
    for (const Feature& f : kFeatures) {
        if (!text.empty()) text += "\n";
        text += std::string(f.name) + " - " + f.description;
    }
    char* list = new (std::nothrow) char[text.size() + 1];
    if (list) memcpy(list, text.c_str(), text.size() + 1);
    return list;
}

void aVersion_DestroyFeatureList(char*& list) {
    delete[] list;
    list = nullptr;
}
