/*
 * UpdateServerRequest.h - the update server's six questions (is it there,
 * latest build, a build's BIRD file, the build list, recovery information for
 * a chip fingerprint, the device token), the ordering of builds by version
 * and the Base64 coding the server uses for BIRD files.
 *
 * Stateless: every operation is class-level, returns true only for status
 * 200 with a first line starting "ok" and an answer that parsed, and writes
 * its out-parameters only on success. Nothing throws.
 */
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

/* The maker's update server: a reserved name that never resolves, so a site
 * points the tool at its own server or mirror with -u, --http or --https. */
#define UPDATE_SERVER_HOST "update.tarnwell.example"
#define UPDATE_SERVER_HTTP_URL "http://" UPDATE_SERVER_HOST "/cgi/u"
#define UPDATE_SERVER_HTTPS_URL "https://" UPDATE_SERVER_HOST "/cgi/u"

class UpdateServerRequest {
public:
    /* The maker's server, by plain HTTP and by HTTPS. An empty base URL given
     * to an operation means default_url. */
    static const char* const default_url;
    static const char* const default_https_url;

    using BuildList = std::map<std::string, std::string>;  // build text -> version text
    using BuildPair = std::pair<std::string, std::string>;
    using Fingerprint = std::array<uint32_t, 4>;

    /* Takes the bytes of a build decoded as they arrive (see the streaming
     * GetBuild). */
    class BuildSink {
    public:
        virtual ~BuildSink() = default;
        /* Once, before any bytes, when the answer's length is known: the build
         * has at most this many bytes. */
        virtual void Expect(size_t mostBytes) { (void)mostBytes; }
        /* The next decoded bytes. An exception stops the download, which then
         * fails like a transport error. */
        virtual void Bytes(const uint8_t* data, size_t length) = 0;
    };

    /* What a streaming GetBuild made of line 2. */
    struct BuildText {
        size_t length = 0;   // characters of line 2
        bool valid = false;  // line 2 was well-formed Base64, so the sink got all of its bytes
        size_t bytes = 0;    // bytes handed to the sink
    };

    static bool ping(const std::string& url = "");
    static bool QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                           const std::string& url = "");
    /* On success base64 holds the BIRD file as Base64 text (line 2 exactly as
     * sent, so a CR the server left there makes decoding fail). */
    static bool GetBuild(uint32_t serial, const std::string& firmware, const std::string& build,
                         std::string& base64, const std::string& url = "", bool noCalibration = false);
    /* GetBuild for builds too large to hold twice: line 2 is decoded while it
     * arrives and its bytes go to sink, with the same request, the same "ok"
     * check and the same log lines. True as GetBuild is; text then tells
     * whether the bytes are the whole build. On false, or when text is not
     * valid, whatever the sink got must be thrown away. */
    static bool GetBuild(uint32_t serial, const std::string& firmware, const std::string& build,
                         BuildSink& sink, BuildText& text, const std::string& url = "",
                         bool noCalibration = false);
    /* The map is cleared before the request. */
    static bool GetBuildList(uint32_t serial, BuildList& builds, const std::string& url = "");
    static bool GetRecoveryInfo(const Fingerprint& fingerprint, uint32_t& serial, uint32_t& build,
                                const std::string& url = "");
    static bool GetDeviceJWT(uint32_t serial, std::string& jwt, const std::string& url = "");

    /* Newest version first; versions that are not three numbers go last, in
     * build order. */
    static std::vector<BuildPair> SortBuildsByVersion(const BuildList& builds);
    /* The three parts of "major.minor.patch"; empty unless there are exactly three. */
    static std::vector<std::string> SplitQuillcoreVersion(const std::string& version);

    /* Standard Base64 (RFC 4648 alphabet, "=" padding). Returns the bytes
     * followed by one zero byte, and their count in decodedLength; nothing
     * when the length is not a multiple of 4 or the text is not well-formed
     * Base64 (characters outside the alphabet, misplaced padding). */
    static std::unique_ptr<uint8_t[]> base64_decode(const char* text, size_t length, size_t& decodedLength);
    static std::string base64_encode(const uint8_t* data, size_t length);
};
