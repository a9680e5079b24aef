#include "tools/update-mirror/UpdateMirror.h"

// Filled in from the firmware layer's BirdFile.
std::string UpdateMirror::BuildVersion(const std::string&) { return ""; }
