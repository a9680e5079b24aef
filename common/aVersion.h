/*
 * aVersion.h - the library's own version, and the packing of firmware version
 * numbers into the 32-bit form devices report.
 */
#pragma once

#include <cstddef>
#include <cstdint>

uint8_t aVersion_GetMajor();
uint8_t aVersion_GetMinor();
uint8_t aVersion_GetPatch();
const char* aVersion_GetString();

uint32_t aVersion_Pack(uint8_t major, uint8_t minor, uint8_t patch);
bool aVersion_IsLegacyFormat(uint32_t packed);
uint32_t aVersion_ParseMajor(uint32_t packed);
uint32_t aVersion_ParseMinor(uint32_t packed);
uint32_t aVersion_ParsePatch(uint32_t packed);

/* Writes "major.minor.patch"; returns the untruncated length as snprintf does. */
int aVersion_ParseString(uint32_t packed, char* buffer, size_t size);

bool aVersion_IsAtLeastCompare(uint8_t major1, uint8_t minor1, uint8_t patch1, uint8_t major2, uint8_t minor2,
                               uint8_t patch2);
bool aVersion_IsAtLeast(uint8_t major, uint8_t minor, uint8_t patch);

bool aVersion_HasFeature(const char* name);
char* aVersion_GetFeatureList();
void aVersion_DestroyFeatureList(char*& list);
