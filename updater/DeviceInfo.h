/*
 * DeviceInfo.h - one discovered device.
 */
#pragma once

// TODO(device discovery): the record begins with the device's link specifier
// once discovery exists; until then discovery finds nothing to describe.
struct DeviceInfo {};
