/*
 * DeviceIdentity.h - who an emulated device is: serial number, model,
 * addresses, firmware, name, features and unique identifier, read from
 * command-line options or a JSON file.
 */
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace emulator {

struct DeviceIdentity {
    uint32_t serialNumber = 0x40F5849A;
    uint8_t model = 19;
    uint8_t moduleAddress = 2;
    uint8_t routerAddress = 2;
    uint32_t firmwareVersion = 0x2F020F07;  // 2.15.7
    uint32_t build = 4711;
    uint32_t hardwareVersion = 0x01000000;
    std::string name = "Quillcore Emulator";
    uint32_t protocolFeatures = 0;
    std::array<uint32_t, 4> uniqueIdentifier = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    uint32_t heartbeatMs = 1000;  // 0: no heartbeats
};

/* Applies the keys of a JSON object; false with a message on a bad file or value. */
bool LoadIdentityJson(const std::string& text, DeviceIdentity& identity, std::string& error);
bool LoadIdentityFile(const std::string& path, DeviceIdentity& identity, std::string& error);

/* Parses a number: decimal, 0x hexadecimal, or a.b.c for a firmware version. */
bool ParseNumber(const std::string& text, uint64_t max, uint64_t& value);
bool ParseVersion(const std::string& text, uint32_t& packed);

}  // namespace emulator
