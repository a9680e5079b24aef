/*
 * Usage.h - the version line, copyright notice, usage texts and result
 * listings the command line prints.
 */
#pragma once

#include <cstdint>

#include "common/UpdaterDisplay.h"

#define UPDATER_APP_NAME "Updater"
#define UPDATER_COPYRIGHT "Copyright (c) 2026 Tarnwell. All rights reserved."

void _display_app_version(UpdaterDisplayInterface& display);
void _display_copyright(UpdaterDisplayInterface& display);

/* Written to standard error: the short usage, with full the parameters,
 * commands and samples, with full and extended also the extended block. */
void _display_usage(bool extended, bool full);

#include <map>
#include <string>

#include "updater/Fingerprint.h"

void _display_builds(UpdaterDisplayInterface& display, const std::map<std::string, std::string>& builds,
                     uint32_t serial);
void _display_fingerprint(UpdaterDisplayInterface& display, const Fingerprint& fingerprint);
void _display_jwt(UpdaterDisplayInterface& display, const std::string& token);
