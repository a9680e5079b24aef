// Feeds arbitrary server bodies to every answer parser, to Base64 decoding
// and to the version ordering of whatever build list came out.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "server/ServerAnswer.h"
#include "server/UpdateServerRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t selector = data[0];
    std::string body(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string request = "http://127.0.0.1/cgi/u?op=x&";
    size_t length = 0;
    switch (selector % 6) {
        case 0: ServerAnswer::Ping(body, request); break;
        case 1: {
            std::string build, firmware;
            ServerAnswer::QueryBuild(body, request, build, firmware);
            break;
        }
        case 2: {
            std::string text;
            if (ServerAnswer::GetBuild(body, request, text))
                UpdateServerRequest::base64_decode(text.data(), text.size(), length);
            break;
        }
        case 3: {
            UpdateServerRequest::BuildList builds;
            if (ServerAnswer::GetBuildList(body, request, builds))
                UpdateServerRequest::SortBuildsByVersion(builds);
            break;
        }
        case 4: {
            uint32_t serial = 0, build = 0;
            ServerAnswer::GetRecoveryInfo(body, request, serial, build);
            std::string jwt;
            ServerAnswer::GetDeviceJWT(body, request, jwt);
            break;
        }
        default: {
            // Exactly the input bytes, so a read past them is caught.
            std::unique_ptr<char[]> exact(new char[body.size()]);
            std::copy(body.begin(), body.end(), exact.get());
            std::unique_ptr<uint8_t[]> bytes =
                UpdateServerRequest::base64_decode(exact.get(), body.size(), length);
            if (bytes && bytes[length] != 0) __builtin_trap();
            break;
        }
    }
    return 0;
}
