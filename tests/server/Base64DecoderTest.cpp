// Base64 decoded piece by piece must agree with base64_decode of the whole
// text, wherever the text is cut; and both must judge every character the
// same in long texts, where the wide decoder does the work.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "server/Base64Decoder.h"
#include "server/UpdateServerRequest.h"

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Outcome {
    bool ok = false;
    std::string bytes;
    bool operator==(const Outcome& other) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
    return out << (o.ok ? "ok, " : "refused, ") << o.bytes.size() << " bytes";
}

Outcome Whole(const std::string& text) {
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = UpdateServerRequest::base64_decode(text.data(), text.size(), length);
    if (!bytes) return {};
    return {true, std::string(reinterpret_cast<char*>(bytes.get()), length)};
}

/* The text fed in pieces of the given sizes, the last size repeating. */
Outcome InPieces(const std::string& text, const std::vector<size_t>& sizes) {
    Outcome out;
    Base64Decoder decoder([&out](const uint8_t* bytes, size_t length) {
        out.bytes.append(reinterpret_cast<const char*>(bytes), length);
    });
    size_t at = 0;
    for (size_t i = 0; at < text.size(); ++i) {
        const size_t size = std::min(sizes[std::min(i, sizes.size() - 1)], text.size() - at);
        decoder.Feed(text.data() + at, size);
        at += size;
    }
    out.ok = decoder.Finish();
    EXPECT_EQ(decoder.TextLength(), text.size());
    EXPECT_EQ(decoder.DecodedLength(), out.bytes.size());
    if (!out.ok) out.bytes.clear();  // only a prefix of something that is no Base64
    return out;
}

std::string Encode(const std::string& data) {
    return UpdateServerRequest::base64_encode(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

std::string Noise(size_t length, uint32_t seed) {
    std::mt19937 random(seed);
    std::string data(length, '\0');
    for (char& c : data) c = static_cast<char>(random());
    return data;
}

/* Short texts, well-formed and not, around every rule the decoder keeps. */
std::vector<std::string> ShortTexts() {
    std::vector<std::string> texts = {
        "",     "TWE=",   "TWFu", "TQ==",     "TWFuTWE=", "/+8=",  "TWFuTW", "TWE",
        "T",    "TW=a",   "T===", "====",     "TQ==TWFu", "TQ==T", "TWE==",  "TWF\n",
        "TWF*", "TWE=\r", "TW-_", "TWE=\r\n", "TWFu\r\n", "TW E",  "=TWF"};
    for (size_t n = 1; n <= 13; ++n) {
        const std::string text = Encode(Noise(n, static_cast<uint32_t>(n)));
        texts.push_back(text);
        for (const char bad : {'=', '\r', '\n', '*', '\0', '\xff'}) {
            for (size_t at : {size_t{0}, text.size() / 2, text.size() - 1}) {
                std::string broken = text;
                broken[at] = bad;
                texts.push_back(broken);
            }
        }
        texts.push_back(text + "A");
        texts.push_back(text + "AAAA");
        texts.push_back(text.substr(0, text.size() - 1));
    }
    return texts;
}

}  // namespace

TEST(Base64Decoder, AgreesWithWholeTextDecodingWhereverTheTextIsCut) {
    for (const std::string& text : ShortTexts()) {
        SCOPED_TRACE(testing::PrintToString(text));
        const Outcome whole = Whole(text);
        for (size_t size = 1; size <= 5; ++size)
            EXPECT_EQ(InPieces(text, {size}), whole) << "pieces of " << size;
        for (size_t cut = 0; cut <= text.size(); ++cut) {
            EXPECT_EQ(InPieces(text, {cut, text.size()}), whole) << "cut at " << cut;
            for (size_t second = cut; second <= text.size(); ++second)
                EXPECT_EQ(InPieces(text, {cut, second - cut, text.size()}), whole) << cut << ", " << second;
        }
    }
}

TEST(Base64Decoder, LongTextsInRandomPiecesDecodeAsAWhole) {
    std::mt19937 random(7);
    for (const size_t length : {size_t{3000}, size_t{100000}, size_t{100001}, size_t{300002}}) {
        const std::string data = Noise(length, static_cast<uint32_t>(length));
        std::string text = Encode(data);
        for (int round = 0; round < 8; ++round) {
            std::vector<size_t> sizes;
            for (size_t sum = 0; sum < text.size(); sum += sizes.back())
                sizes.push_back(1 + random() % 70000);
            const Outcome streamed = InPieces(text, sizes);
            ASSERT_TRUE(streamed.ok) << length;
            ASSERT_EQ(streamed.bytes, data) << length;
            std::string broken = text;
            broken[random() % (text.size() - 4)] = "=*\r\n-"[round % 5];
            EXPECT_EQ(InPieces(broken, sizes), Outcome{}) << length;
        }
    }
}

TEST(Base64Decoder, NothingReachesTheOutputAfterTheTextWentWrong) {
    std::string got;
    Base64Decoder decoder([&got](const uint8_t* bytes, size_t length) {
        got.append(reinterpret_cast<const char*>(bytes), length);
    });
    EXPECT_TRUE(decoder.Feed("TWFu", 4));
    EXPECT_FALSE(decoder.Feed("TW*u", 4));
    EXPECT_FALSE(decoder.Feed("TWFu", 4));
    EXPECT_FALSE(decoder.Finish());
    EXPECT_TRUE(decoder.Failed());
    EXPECT_EQ(got, "Man");
    EXPECT_EQ(decoder.DecodedLength(), 3u);
    EXPECT_EQ(decoder.TextLength(), 12u);

    Base64Decoder padded([](const uint8_t*, size_t) {});
    EXPECT_TRUE(padded.Feed("TQ==", 4));
    EXPECT_FALSE(padded.Feed("T", 1)) << "nothing may follow the padded quad";
}

// Every byte value at places inside and across the eight-quad blocks of a
// long text (never in its final quad, where "=" is allowed): refused unless
// it is in the alphabet, and otherwise decoded to its value.
TEST(Base64, EveryCharacterIsJudgedTheSameAnywhereInALongText) {
    const std::string text = Encode(Noise(96, 3));  // 128 characters, no padding
    for (const size_t at : {size_t{0}, size_t{1}, size_t{30}, size_t{31}, size_t{32}, size_t{33}, size_t{63},
                            size_t{64}, size_t{95}, size_t{123}}) {
        for (int value = 0; value < 256; ++value) {
            std::string changed = text;
            changed[at] = static_cast<char>(value);
            const char* place = value ? strchr(kAlphabet, value) : nullptr;
            const Outcome whole = Whole(changed);
            ASSERT_EQ(whole.ok, place != nullptr) << "value " << value << " at " << at;
            ASSERT_EQ(InPieces(changed, {at + 1, 17}), whole) << "value " << value << " at " << at;
            if (!place) continue;
            // The six bits of the character land in byte at / 4 * 3 and the next.
            const uint32_t bits = static_cast<uint32_t>(place - kAlphabet);
            const size_t quad = at / 4 * 3, shift = 18 - 6 * (at % 4);
            const uint32_t word = static_cast<uint8_t>(whole.bytes[quad]) << 16 |
                                  static_cast<uint8_t>(whole.bytes[quad + 1]) << 8 |
                                  static_cast<uint8_t>(whole.bytes[quad + 2]);
            ASSERT_EQ(word >> shift & 63, bits) << "value " << value << " at " << at;
        }
    }
}
