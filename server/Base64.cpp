#include <array>

#include "server/UpdateServerRequest.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kInvalid = 0xFF;
constexpr uint8_t kPad = 0xFE;

constexpr std::array<uint8_t, 256> _decodeTable() {
    std::array<uint8_t, 256> table{};
    for (uint8_t& entry : table) entry = kInvalid;
    for (uint8_t i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = i;
    table['='] = kPad;
    return table;
}

constexpr std::array<uint8_t, 256> kDecode = _decodeTable();

}  // namespace

std::unique_ptr<uint8_t[]> UpdateServerRequest::base64_decode(const char* text, size_t length,
                                                              size_t& decodedLength) {
    if (length % 4 != 0 || (length > 0 && !text)) return nullptr;
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    const size_t padding = length == 0 ? 0 : (in[length - 1] == '=') + (in[length - 2] == '=');
    const size_t size = length / 4 * 3 - padding;
    std::unique_ptr<uint8_t[]> out(new uint8_t[size + 1]);
    uint8_t* o = out.get();
    // Every quad but the last holds four alphabet characters: one check of the
    // OR of their values (invalid and "=" have the high bits set) per quad.
    const size_t body = length == 0 ? 0 : length - 4;
    for (size_t i = 0; i < body; i += 4) {
        const uint32_t a = kDecode[in[i]], b = kDecode[in[i + 1]], c = kDecode[in[i + 2]],
                       d = kDecode[in[i + 3]];
        if ((a | b | c | d) & 0xC0) return nullptr;
        const uint32_t v = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<uint8_t>(v >> 16);
        o[1] = static_cast<uint8_t>(v >> 8);
        o[2] = static_cast<uint8_t>(v);
        o += 3;
    }
    if (length > 0) {
        const uint8_t a = kDecode[in[body]], b = kDecode[in[body + 1]], c = kDecode[in[body + 2]],
                      d = kDecode[in[body + 3]];
        // "=" only as the last one or two characters.
        if (a >= 64 || b >= 64 || c == kInvalid || d == kInvalid || (c == kPad && d != kPad)) return nullptr;
        *o++ = static_cast<uint8_t>(a << 2 | b >> 4);
        if (c != kPad) *o++ = static_cast<uint8_t>(b << 4 | c >> 2);
        if (d != kPad) *o++ = static_cast<uint8_t>(c << 6 | d);
    }
    *o = 0;
    decodedLength = size;
    return out;
}

std::string UpdateServerRequest::base64_encode(const uint8_t* data, size_t length) {
    std::string text((length + 2) / 3 * 4, '\0');
    char* o = text.data();
    size_t i = 0;
    for (; i + 2 < length; i += 3, o += 4) {
        const uint32_t v = static_cast<uint32_t>(data[i]) << 16 | data[i + 1] << 8 | data[i + 2];
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[v >> 12 & 63];
        o[2] = kAlphabet[v >> 6 & 63];
        o[3] = kAlphabet[v & 63];
    }
    if (i < length) {
        const bool two = i + 1 < length;
        const uint32_t v = static_cast<uint32_t>(data[i]) << 16 | (two ? data[i + 1] << 8 : 0);
        o[0] = kAlphabet[v >> 18];
        o[1] = kAlphabet[v >> 12 & 63];
        o[2] = two ? kAlphabet[v >> 6 & 63] : '=';
        o[3] = '=';
    }
    return text;
}
