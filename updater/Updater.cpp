#include "updater/Updater.h"

#include "updater/DeviceInfo.h"

Updater::Updater(const std::string& serverUrl, const std::string& storePath, UpdaterDisplayInterface& display)
    : serverUrl_(serverUrl), storePath_(storePath), display_(display) {}

void Updater::NotAvailable(const char* operation) {
    display_.message(UpdaterDisplayInterface::ERROR, "%s is not available in this build", operation);
}

// TODO(device discovery): enumerate USB and TCP/IP devices and read their details.
std::vector<DeviceInfo> Updater::Discover_Devices(uint32_t) {
    NotAvailable("Device discovery");
    return {};
}

// TODO(router discovery): scan the router's I2C network.
std::vector<DeviceInfo> Updater::Discover_QCNetwork_Devices(uint32_t, uint32_t) {
    NotAvailable("Router network discovery");
    return {};
}

// TODO(firmware update): load, personalise and transfer a BIRD file to the device.
bool Updater::Update_Firmware(uint32_t, uint32_t, const std::string&, uint8_t, uint32_t, bool) {
    NotAvailable("Firmware update");
    return false;
}

// TODO(recovery): read the chip fingerprint through the boot ROM.
bool Updater::Get_Fingerprint(Fingerprint&, const std::string&, uint32_t, const std::string&, uint32_t,
                              bool) {
    chipKind_ = 0;
    NotAvailable("Chip fingerprint");
    return false;
}

// TODO(recovery): restore the firmware through the boot ROM.
bool Updater::Recover_Firmware(const std::string&, uint32_t, uint32_t, uint32_t, const std::string&, bool) {
    (void)chipKind_;
    (void)ueiBytesLoad_;
    NotAvailable("Recovery");
    return false;
}
