#include <algorithm>
#include <array>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define QC_BASE64_AVX2 1
#endif

#include "common/aMemory.h"
#include "server/Base64Decoder.h"
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

/* Quads of four alphabet characters ("=" has no place there), up to the
 * first other one; returns how many quads were decoded. */
size_t _decodeQuadsScalar(const uint8_t* in, size_t quads, uint8_t* o) {
    for (size_t q = 0; q < quads; ++q, in += 4, o += 3) {
        // One check of the OR of the four values per quad: invalid and "="
        // have the high bits set.
        const uint32_t a = kDecode[in[0]], b = kDecode[in[1]], c = kDecode[in[2]], d = kDecode[in[3]];
        if ((a | b | c | d) & 0xC0) return q;
        const uint32_t v = a << 18 | b << 12 | c << 6 | d;
        o[0] = static_cast<uint8_t>(v >> 16);
        o[1] = static_cast<uint8_t>(v >> 8);
        o[2] = static_cast<uint8_t>(v);
    }
    return quads;
}

#ifdef QC_BASE64_AVX2

/* Eight quads at a time with AVX2 (the nibble lookup of Mula and Lemire),
 * up to the first block that holds anything but alphabet characters, which
 * is left to the scalar decoder; returns how many quads were decoded. */
__attribute__((target("avx2"))) size_t _decodeQuadsAvx2(const uint8_t* in, size_t quads, uint8_t* o) {
    // Per nibble a class bit set: a character is in the alphabet exactly when
    // the classes of its low and high nibble share no bit.
    const __m256i lowClasses = _mm256_setr_epi8(
        0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A, 0x15,
        0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
    const __m256i highClasses = _mm256_setr_epi8(
        0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,
        0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
    // What to add to a character to get its value, by high nibble ("/" at 1).
    const __m256i offsets = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0, 0, 16,
                                             19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m256i nibble = _mm256_set1_epi8(0x0F);
    const __m256i slash = _mm256_set1_epi8('/');
    const __m256i pack = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1, 2, 1, 0, 6,
                                          5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    size_t done = 0;
    for (; done + 8 <= quads; done += 8, in += 32, o += 24) {
        const __m256i text = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        const __m256i high = _mm256_and_si256(_mm256_srli_epi32(text, 4), nibble);
        const __m256i low = _mm256_and_si256(text, nibble);
        if (!_mm256_testz_si256(_mm256_shuffle_epi8(lowClasses, low), _mm256_shuffle_epi8(highClasses, high)))
            break;
        const __m256i index = _mm256_add_epi8(_mm256_cmpeq_epi8(text, slash), high);
        const __m256i values = _mm256_add_epi8(text, _mm256_shuffle_epi8(offsets, index));
        // Pairs of 6-bit values into 12 bits, pairs of those into 24.
        const __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));
        const __m256i words = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), lanes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(bytes));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 16), _mm256_extracti128_si256(bytes, 1));
    }
    return done;
}

bool _hasAvx2() {
    __builtin_cpu_init();  // may not have run yet when asked during start-up
    return __builtin_cpu_supports("avx2");
}

#endif

size_t _decodeQuads(const uint8_t* in, size_t quads, uint8_t* o) {
    size_t done = 0;
#ifdef QC_BASE64_AVX2
    static const bool avx2 = _hasAvx2();
    if (avx2) done = _decodeQuadsAvx2(in, quads, o);
#endif
    return done + _decodeQuadsScalar(in + 4 * done, quads - done, o + 3 * done);
}

/* The last quad, where "=" may stand as the last one or two characters.
 * Returns the number of bytes it gives, 0 when it is not well-formed. */
size_t _decodeLast(const uint8_t* in, uint8_t* o) {
    const uint8_t a = kDecode[in[0]], b = kDecode[in[1]], c = kDecode[in[2]], d = kDecode[in[3]];
    if (a >= 64 || b >= 64 || c == kInvalid || d == kInvalid || (c == kPad && d != kPad)) return 0;
    o[0] = static_cast<uint8_t>(a << 2 | b >> 4);
    if (c == kPad) return 1;
    o[1] = static_cast<uint8_t>(b << 4 | c >> 2);
    if (d == kPad) return 2;
    o[2] = static_cast<uint8_t>(c << 6 | d);
    return 3;
}

}  // namespace

std::unique_ptr<uint8_t[]> UpdateServerRequest::base64_decode(const char* text, size_t length,
                                                              size_t& decodedLength) {
    if (length % 4 != 0 || (length > 0 && !text)) return nullptr;
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    const size_t padding = length == 0 ? 0 : (in[length - 1] == '=') + (in[length - 2] == '=');
    const size_t size = length / 4 * 3 - padding;
    std::unique_ptr<uint8_t[]> out(new uint8_t[size + 1]);
    aMemory_AdviseHugePages(out.get(), size + 1);
    const size_t quads = length == 0 ? 0 : length / 4 - 1;  // all but the last

    if (_decodeQuads(in, quads, out.get()) != quads) return nullptr;
    if (length > 0 && !_decodeLast(in + 4 * quads, out.get() + 3 * quads)) return nullptr;
    out[size] = 0;
    decodedLength = size;
    return out;
}

namespace {

/* Decoded bytes handed on per call: 48 KiB, more than libcurl delivers at once. */
constexpr size_t kBlockQuads = 16384;

}  // namespace

Base64Decoder::Base64Decoder(Output output)
    : output_(std::move(output)), block_(new uint8_t[kBlockQuads * 3]) {}

Base64Decoder::~Base64Decoder() = default;

bool Base64Decoder::Fail() {
    failed_ = true;
    return false;
}

void Base64Decoder::Emit(size_t length) {
    if (length == 0) return;
    decodedLength_ += length;
    output_(block_.get(), length);
}

/* Whole quads; the first one holding "=" must be the text's final quad. */
bool Base64Decoder::DecodeRun(const uint8_t* in, size_t quads) {
    while (quads > 0) {
        if (ended_) return Fail();
        const size_t count = std::min(quads, kBlockQuads);
        const size_t done = _decodeQuads(in, count, block_.get());
        if (done == count) {
            Emit(3 * done);
            in += 4 * count;
            quads -= count;
            continue;
        }
        const size_t last = _decodeLast(in + 4 * done, block_.get() + 3 * done);
        Emit(3 * done + last);
        if (last == 0) return Fail();
        ended_ = true;
        in += 4 * (done + 1);
        quads -= done + 1;
    }
    return true;
}

bool Base64Decoder::Feed(const char* text, size_t length) {
    textLength_ += length;
    if (failed_) return false;
    const uint8_t* in = reinterpret_cast<const uint8_t*>(text);
    if (carriedLength_ > 0) {
        const size_t take = std::min(length, 4 - carriedLength_);
        std::copy(in, in + take, carried_ + carriedLength_);
        carriedLength_ += take;
        in += take;
        length -= take;
        if (carriedLength_ < 4) return true;
        carriedLength_ = 0;
        if (!DecodeRun(carried_, 1)) return false;
    }
    if (!DecodeRun(in, length / 4)) return false;
    const size_t rest = length % 4;
    if (rest > 0 && ended_) return Fail();
    std::copy(in + length - rest, in + length, carried_);
    carriedLength_ = rest;
    return true;
}

bool Base64Decoder::Finish() {
    if (failed_) return false;
    if (carriedLength_ > 0) return Fail();
    return true;
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
