#include "firmware/BirdFile.h"
#include "tools/update-mirror/UpdateMirror.h"

std::string UpdateMirror::BuildVersion(const std::string& path) {
    if (!BirdFile::VerifyFile(path)) return "";
    BirdFile file;
    if (!file.Load(path)) return "";
    return file.GetVersion();
}
