/*
 * UsbServe.h - the emulator program's USB side: serves the model as an
 * emulated USB device (or on its kernel node) in a umockdev testbed of this
 * process, and either runs a command that sees it or waits for a signal.
 *
 * A command runs with $UMOCKDEV_DIR naming the testbed and the umockdev
 * preload in LD_PRELOAD, so the real libusb in it finds the device; the
 * command's exit status becomes the program's.
 */
#pragma once

#include <signal.h>

#include "tools/emulator/DeviceModel.h"
#include "tools/emulator/UsbTransport.h"

namespace emulator {

/* command: a null-terminated argument vector, or none to wait for one of
 * the blocked signals. Returns the exit status for the program. */
int ServeUsb(DeviceModel& model, bool kernelNode, const UsbDeviceOptions& options, char** command,
             const sigset_t& signals);

}  // namespace emulator
