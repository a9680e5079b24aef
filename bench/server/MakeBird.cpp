// bench-make-bird FILE BASE64_BYTES: writes a BIRD file whose Base64 text is
// exactly BASE64_BYTES long (a multiple of 4), for the download benchmark.
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "tools/birdtool/BirdWriter.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: bench-make-bird FILE BASE64_BYTES\n");
        return 2;
    }
    const size_t goal = strtoull(argv[2], nullptr, 10) / 4 * 3;
    // Noise barely compresses, so the file size follows the image size with a
    // small framing overhead: a few corrections land on the exact size.
    size_t image = goal > 1000 ? goal - 1000 : 1;
    std::string bytes;
    for (int attempt = 0; attempt < 16; ++attempt) {
        bytes = BirdWriter_SimpleFile(1000, "2.12.2", 0x0000ABCD, "QC-HUB", image);
        if (bytes.size() == goal) break;
        image = image + goal - bytes.size();
    }
    std::ofstream(argv[1], std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    printf("%zu\n", bytes.size());
    return bytes.size() == goal ? 0 : 1;
}
