// Feeds arbitrary server bodies to every answer parser, to Base64 decoding
// and to the version ordering of whatever build list came out. Download
// bodies and Base64 texts also go through the streaming parsers in pieces of
// random sizes, which must agree with the buffered ones.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>

#include "server/Base64Decoder.h"
#include "server/ServerAnswer.h"
#include "server/UpdateServerRequest.h"

namespace {

const std::string kRequest = "http://127.0.0.1/cgi/u?op=x&";

void Require(bool holds) {
    if (!holds) __builtin_trap();
}

/* Piece sizes from the input, mixing single characters and long runs. */
class Pieces {
public:
    Pieces(const uint8_t* data, size_t size)
        : random_(static_cast<uint32_t>(size * 31 + (size ? data[0] : 0))) {}
    size_t Next(size_t left) {
        const size_t most = random_() % 2 ? 8 : left;
        return std::min<size_t>(left, 1 + random_() % std::max<size_t>(most, 1));
    }

private:
    std::minstd_rand random_;
};

class Collected : public UpdateServerRequest::BuildSink {
public:
    void Bytes(const uint8_t* data, size_t length) override {
        bytes.append(reinterpret_cast<const char*>(data), length);
    }
    std::string bytes;
};

/* The download body parsed whole and in pieces: the same outcome. */
void Download(const std::string& body, Pieces& pieces) {
    std::string buffered = body, text;
    const bool accepted = ServerAnswer::GetBuild(buffered, kRequest, text);
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes;
    if (accepted) bytes = UpdateServerRequest::base64_decode(text.data(), text.size(), length);

    Collected sink;
    BuildAnswer answer(sink);
    for (size_t at = 0; at < body.size();) {
        const size_t size = pieces.Next(body.size() - at);
        answer.Take(body.data() + at, size);
        at += size;
    }
    UpdateServerRequest::BuildText streamed;
    Require(answer.Finish(kRequest, streamed) == accepted);
    if (!accepted) return;
    Require(streamed.length == text.size());
    Require(streamed.valid == (bytes != nullptr));
    Require(streamed.bytes == sink.bytes.size());
    if (bytes) Require(sink.bytes == std::string(reinterpret_cast<char*>(bytes.get()), length));
}

/* Exactly the input bytes, so a read past them is caught; the decoder fed in
 * pieces must agree. */
void Base64(const std::string& body, Pieces& pieces) {
    std::unique_ptr<char[]> exact(new char[body.size()]);
    std::copy(body.begin(), body.end(), exact.get());
    size_t length = 0;
    std::unique_ptr<uint8_t[]> bytes = UpdateServerRequest::base64_decode(exact.get(), body.size(), length);
    if (bytes && bytes[length] != 0) __builtin_trap();

    std::string streamed;
    Base64Decoder decoder([&streamed](const uint8_t* data, size_t size) {
        streamed.append(reinterpret_cast<const char*>(data), size);
    });
    for (size_t at = 0; at < body.size();) {
        const size_t size = pieces.Next(body.size() - at);
        std::unique_ptr<char[]> piece(new char[size]);
        std::copy(exact.get() + at, exact.get() + at + size, piece.get());
        decoder.Feed(piece.get(), size);
        at += size;
    }
    Require(decoder.Finish() == (bytes != nullptr));
    if (bytes) Require(streamed == std::string(reinterpret_cast<char*>(bytes.get()), length));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    Pieces pieces(data, size);
    switch (selector % 6) {
        case 0: ServerAnswer::Ping(body, kRequest); break;
        case 1: {
            std::string build, firmware;
            ServerAnswer::QueryBuild(body, kRequest, build, firmware);
            break;
        }
        case 2: Download(body, pieces); break;
        case 3: {
            UpdateServerRequest::BuildList builds;
            if (ServerAnswer::GetBuildList(body, kRequest, builds))
                UpdateServerRequest::SortBuildsByVersion(builds);
            break;
        }
        case 4: {
            uint32_t serial = 0, build = 0;
            ServerAnswer::GetRecoveryInfo(body, kRequest, serial, build);
            std::string jwt;
            ServerAnswer::GetDeviceJWT(body, kRequest, jwt);
            break;
        }
        default: Base64(body, pieces); break;
    }
    return 0;
}
