#include "fuzz/firmware/FuzzTargets.h"

#include <zlib.h>

namespace fuzz {

std::vector<uint8_t> WrapBody(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file = {'b', 'i', 'r', 'd', 0x01, 0x01};
    uLongf length = compressBound(static_cast<uLong>(size));
    file.resize(6 + length);
    if (compress2(file.data() + 6, &length, data, static_cast<uLong>(size), 0) != Z_OK) return {};
    file.resize(6 + length);
    return file;
}

}  // namespace fuzz
