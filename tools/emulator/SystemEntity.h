/*
 * SystemEntity.h - the system entity (command 3, index 0) of an emulated
 * device: identity, settings, measurements, name and the save, reset and
 * factory-default calls.
 */
#pragma once

#include "tools/emulator/UeiEntity.h"

namespace emulator {

class SystemEntity : public UeiEntity {
public:
    /* The longest name the device keeps. */
    static constexpr size_t kMaxName = 32;
    static constexpr size_t kMaxPowerConfig = 64;

    explicit SystemEntity(DeviceModel& model);
};

}  // namespace emulator
