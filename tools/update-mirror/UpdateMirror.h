/*
 * UpdateMirror.h - the update server's protocol answered from a directory, for
 * sites without the maker's server and for tests.
 *
 *   ROOT/SSSSSSSS/NNNN.bird   build NNNN for the device with serial SSSSSSSS
 *                             (versions are read from each file's info block)
 *   ROOT/mirror.json          what files cannot say:
 *     {
 *       "firmware": "quillcore",               identifier answered by op=qu
 *       "secret": "text",                      HS256 key for minted tokens
 *       "recovery": { "W0 W1 W2 W3": { "serial": "0000ABCD", "build": 1234 } },
 *       "tokens": { "0000ABCD": { "token": "aa.bb.cc" },
 *                   "0000ABCE": { "features": <any JSON> } }
 *     }
 *
 * The mirror only reads ROOT; answers are worked out afresh for every request,
 * so builds can be added or removed while it runs.
 */
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

struct MirrorSettings {
    std::string root;
    /* Fault injection, applied to the operations in faultOps (all when empty). */
    std::set<std::string> faultOps;
    int failStatus = 0;               // answer every such request with this status
    bool refuse = false;              // answer with a first line other than "ok"
    std::optional<size_t> cutBody;    // send only the first bytes of the body
    std::optional<size_t> dropAfter;  // announce the whole body, close the connection after these bytes
    unsigned delayMs = 0;             // wait before answering
};

struct MirrorAnswer {
    int status = 200;
    std::string body;
};

class UpdateMirror {
public:
    /* Reads ROOT/mirror.json when there is one; throws std::runtime_error when
     * ROOT is not a directory or the file is not what it should be. */
    explicit UpdateMirror(MirrorSettings settings);

    /* The answer to one request, from its decoded query parameters (faults
     * included, delay excluded: the server waits). */
    MirrorAnswer Respond(const std::map<std::string, std::string>& query) const;

    /* True when faults apply to this operation. */
    bool Faulted(const std::string& op) const;
    const MirrorSettings& Settings() const { return settings_; }

    /* The builds stored for a device: build number -> version text (empty when
     * the file's info block gives none). */
    std::map<uint32_t, std::string> Builds(uint32_t serial) const;

    /* The version text in a BIRD file's info block; empty when the file is not
     * a loadable BIRD file or has no info block. */
    static std::string BuildVersion(const std::string& path);
    /* HS256 JSON Web Token over the given payload (compact JSON text). */
    static std::string MintJwt(const std::string& secret, const std::string& payload);
    /* Reads "W0 W1 W2 W3": four hexadecimal words separated by blanks. */
    static bool ParseFingerprint(const std::string& text, std::array<uint32_t, 4>& words);

private:
    struct Recovery {
        uint32_t serial = 0;
        std::string build;  // sent as written, so any base the client reads can be served
    };
    struct Token {
        std::string token;
        std::string features;  // JSON text; used when token is empty
    };

    MirrorAnswer _answer(const std::map<std::string, std::string>& query) const;
    MirrorAnswer _latest(uint32_t serial) const;
    MirrorAnswer _bird(uint32_t serial, const std::string& build) const;
    MirrorAnswer _builds(uint32_t serial) const;
    MirrorAnswer _recovery(const std::string& fingerprint) const;
    MirrorAnswer _token(uint32_t serial) const;
    std::string _deviceDir(uint32_t serial) const;
    std::string _version(const std::string& path) const;
    void _loadConfig();

    MirrorSettings settings_;
    std::string firmware_ = "quillcore";
    std::string secret_;
    std::map<std::array<uint32_t, 4>, Recovery> recovery_;
    std::map<uint32_t, Token> tokens_;

    /* Versions already read, by path; an entry counts while the file keeps
     * its size and modification time. Reading one inflates the whole file. */
    struct KnownVersion {
        uintmax_t size = 0;
        int64_t modified = 0;
        std::string version;
    };
    mutable std::mutex versionsMutex_;
    mutable std::map<std::string, KnownVersion> versions_;
};
