// libFuzzer target: the attribute file parser, its typed getters and a save.
#include "fuzz/firmware/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("settings");
    static fuzz::ScratchFile saved("saved");
    fuzz::Attributes(file.Write(data, size), saved.path());
    return 0;
}
