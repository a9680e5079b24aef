#include <algorithm>
#include <array>
#include <thread>
#include <vector>

#include "common/aMemory.h"
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

namespace {

/* Quads of four alphabet characters ("=" has no place there); false on any other. */
bool _decodeQuads(const uint8_t* in, size_t quads, uint8_t* o) {
    for (size_t q = 0; q < quads; ++q, in += 4, o += 3) {
        // One check of the OR of the four values per quad: invalid and "="
        // have the high bits set.
        const uint32_t a = kDecode[in[0]], b = kDecode[in[1]], c = kDecode[in[2]], d = kDecode[in[3]];
        if ((a | b | c | d) & 0xC0) return false;
        const uint32_t v = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<uint8_t>(v >> 16);
        o[1] = static_cast<uint8_t>(v >> 8);
        o[2] = static_cast<uint8_t>(v);
    }
    return true;
}

/* The last quad, where "=" may stand as the last one or two characters. */
bool _decodeLast(const uint8_t* in, uint8_t* o) {
    const uint8_t a = kDecode[in[0]], b = kDecode[in[1]], c = kDecode[in[2]], d = kDecode[in[3]];
    if (a >= 64 || b >= 64 || c == kInvalid || d == kInvalid || (c == kPad && d != kPad)) return false;
    *o++ = static_cast<uint8_t>(a << 2 | b >> 4);
    if (c != kPad) *o++ = static_cast<uint8_t>(b << 4 | c >> 2);
    if (d != kPad) *o = static_cast<uint8_t>(c << 6 | d);
    return true;
}

/* Below this a second thread costs more than it saves. */
constexpr size_t kQuadsPerThread = 1 << 18;

}  // namespace

std::unique_ptr<uint8_t[]> UpdateServerRequest::base64_decode(const char* text, size_t length,
                                                              size_t& decodedLength, unsigned threads) {
    if (length % 4 != 0 || (length > 0 && !text)) return nullptr;
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    const size_t padding = length == 0 ? 0 : (in[length - 1] == '=') + (in[length - 2] == '=');
    const size_t size = length / 4 * 3 - padding;
    std::unique_ptr<uint8_t[]> out(new uint8_t[size + 1]);
    aMemory_AdviseHugePages(out.get(), size + 1);
    const size_t quads = length == 0 ? 0 : length / 4 - 1;  // all but the last

    size_t parts = std::max<size_t>(1, std::min<size_t>(threads, quads / kQuadsPerThread));
    std::vector<std::thread> workers;
    std::vector<char> ok(parts, 0);
    const size_t share = quads / parts;
    for (size_t p = 0; p < parts; ++p) {
        const size_t first = p * share, count = p + 1 == parts ? quads - first : share;
        auto work = [&, p, first, count] {
            ok[p] = _decodeQuads(in + 4 * first, count, out.get() + 3 * first);
        };
        if (p + 1 == parts) {
            work();
        } else {
            workers.emplace_back(work);
        }
    }
    for (std::thread& worker : workers) worker.join();
    for (char part : ok) {
        if (!part) return nullptr;
    }
    if (length > 0 && !_decodeLast(in + 4 * quads, out.get() + 3 * quads)) return nullptr;
    out[size] = 0;
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
