/*
 * BirdBytes.h - builds the bytes of a small BIRD file (info block and one
 * firmware block) for the server tests and benchmarks.
 */
#pragma once

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace birdbytes {

inline void PutBE32(std::string& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>(value >> shift & 0xFF);
}

inline std::string Field16(const std::string& text) {
    std::string field = text.substr(0, 16);
    field.resize(16, ' ');
    return field;
}

/* Image bytes that do not compress, so the file is about imageSize long. */
inline std::string Noise(size_t size, uint32_t seed) {
    std::string bytes(size, '\0');
    uint64_t state = seed * 6364136223846793005ull + 1442695040888963407ull;
    for (char& byte : bytes) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        byte = static_cast<char>(state >> 56);
    }
    return bytes;
}

inline std::string Make(uint32_t build, const std::string& version, uint32_t serial, const std::string& model,
                        size_t imageSize) {
    char serialText[16];
    snprintf(serialText, sizeof(serialText), "%08X", serial);
    std::string body;
    PutBE32(body, 2);
    body += static_cast<char>(4);
    PutBE32(body, 64);
    body += Field16(std::to_string(build)) + Field16(version) + Field16(serialText) + Field16(model);
    body += static_cast<char>(1);
    PutBE32(body, static_cast<uint32_t>(4 + imageSize));
    PutBE32(body, 0x00010000);
    body += Noise(imageSize, build);
    PutBE32(body, 0x12345678);

    uLongf packedSize = compressBound(body.size());
    std::string packed(packedSize, '\0');
    if (compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                 reinterpret_cast<const Bytef*>(body.data()), body.size()) != Z_OK) {
        throw std::runtime_error("compress failed");
    }
    packed.resize(packedSize);
    return std::string("bird\x01\x01", 6) + packed;
}

}  // namespace birdbytes
