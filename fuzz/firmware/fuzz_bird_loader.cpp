// libFuzzer target: the BIRD loader on whole files, or on bodies wrapped by
// the harness (see WrapBody).
#include <cstring>

#include "fuzz/firmware/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static fuzz::ScratchFile file("bird");
    if (size >= 4 && memcmp(data, "bird", 4) == 0) {
        fuzz::BirdLoader(file.Write(data, size), data, size);
    } else {
        std::vector<uint8_t> wrapped = fuzz::WrapBody(data, size);
        fuzz::BirdLoader(file.Write(wrapped.data(), wrapped.size()), wrapped.data(), wrapped.size());
    }
    return 0;
}
