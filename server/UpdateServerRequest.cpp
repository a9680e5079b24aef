#include "server/UpdateServerRequest.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "common/Log.h"
#include "common/aVersion.h"
#include "server/HTTPRequest.h"
#include "server/ServerAnswer.h"

const char* const UpdateServerRequest::default_url = UPDATE_SERVER_HTTP_URL;
const char* const UpdateServerRequest::default_https_url = UPDATE_SERVER_HTTPS_URL;

namespace {

std::string _hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "%08X", value);
    return text;
}

/* Sends the request; a transport error or a status other than 200 is logged
 * under the operation's name and gives nothing. */
std::optional<HTTPResponse> _get(const char* operation, const std::string& url,
                                 const HTTPRequest::Parameters& parameters, HTTPBodySink* sink = nullptr) {
    try {
        const std::string& base = url.empty() ? UpdateServerRequest::default_url : url;
        HTTPResponse response =
            sink ? HTTPRequest::GET(base, parameters, *sink) : HTTPRequest::GET(base, parameters);
        if (response.get_status() == 200) return response;
        const int status = static_cast<int>(response.get_status());
        if (std::string_view(operation) == "ping") {
            Log::log(DEBUG_ServerComm, "PING ==> [%d] [%s]\n", status, response.get_response().c_str());
        } else {
            Log::log(DEBUG_ServerComm, "%s ==> [%d] [%s]\n", operation, status,
                     response.get_response().c_str());
        }
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s ==> [%s]\n", operation, e.what());
    }
    return std::nullopt;
}

}  // namespace

bool UpdateServerRequest::ping(const std::string& url) {
    std::optional<HTTPResponse> response = _get("ping", url, {{"op", "hi"}, {"rv", "2"}});
    return response && ServerAnswer::Ping(response->get_response(), response->get_request());
}

bool UpdateServerRequest::QueryBuild(uint32_t serial, std::string& build, std::string& firmware,
                                     const std::string& url) {
    std::optional<HTTPResponse> response = _get("QueryBuild", url, {{"op", "qu"}, {"sn", _hex8(serial)}});
    return response &&
           ServerAnswer::QueryBuild(response->get_response(), response->get_request(), build, firmware);
}

namespace {

HTTPRequest::Parameters _buildQuery(uint32_t serial, const std::string& firmware, const std::string& build,
                                    bool noCalibration) {
    return {{"bld", build},
            {"fw", firmware},
            {"no_cal", noCalibration ? "true" : "false"},
            {"op", "bird"},
            {"sn", _hex8(serial)}};
}

}  // namespace

bool UpdateServerRequest::GetBuild(uint32_t serial, const std::string& firmware, const std::string& build,
                                   std::string& base64, const std::string& url, bool noCalibration) {
    std::optional<HTTPResponse> response =
        _get("GetBuild", url, _buildQuery(serial, firmware, build, noCalibration));
    return response && ServerAnswer::GetBuild(response->get_response(), response->get_request(), base64);
}

bool UpdateServerRequest::GetBuild(uint32_t serial, const std::string& firmware, const std::string& build,
                                   BuildSink& sink, BuildText& text, const std::string& url,
                                   bool noCalibration) {
    BuildAnswer answer(sink);
    std::optional<HTTPResponse> response =
        _get("GetBuild", url, _buildQuery(serial, firmware, build, noCalibration), &answer);
    return response && answer.Finish(response->get_request(), text);
}

bool UpdateServerRequest::GetBuildList(uint32_t serial, BuildList& builds, const std::string& url) {
    builds.clear();
    std::optional<HTTPResponse> response =
        _get("GetBuildList", url, {{"op", "builds"}, {"sn", _hex8(serial)}});
    return response && ServerAnswer::GetBuildList(response->get_response(), response->get_request(), builds);
}

bool UpdateServerRequest::GetRecoveryInfo(const Fingerprint& fingerprint, uint32_t& serial, uint32_t& build,
                                          const std::string& url) {
    char fp[64];
    snprintf(fp, sizeof(fp), "%08X%%20%08X%%20%08X%%20%08X", fingerprint[0], fingerprint[1], fingerprint[2],
             fingerprint[3]);
    std::optional<HTTPResponse> response =
        _get("GetRecoveryInfo", url, {{"brief", "true"}, {"fp", fp}, {"op", "fix"}});
    return response &&
           ServerAnswer::GetRecoveryInfo(response->get_response(), response->get_request(), serial, build);
}

bool UpdateServerRequest::GetDeviceJWT(uint32_t serial, std::string& jwt, const std::string& url) {
    std::optional<HTTPResponse> response =
        _get("GetDeviceJWT", url, {{"json", "false"}, {"op", "ent_jwt"}, {"sn", _hex8(serial)}});
    return response && ServerAnswer::GetDeviceJWT(response->get_response(), response->get_request(), jwt);
}

std::vector<std::string> UpdateServerRequest::SplitQuillcoreVersion(const std::string& version) {
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        const size_t dot = version.find('.', start);
        parts.push_back(version.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    if (parts.size() != 3) parts.clear();
    return parts;
}

namespace {

/* A version as the three bytes devices compare, or nothing when it is not
 * three decimal numbers. */
std::optional<std::array<uint8_t, 3>> _versionKey(const std::string& version) {
    const std::vector<std::string> parts = UpdateServerRequest::SplitQuillcoreVersion(version);
    if (parts.size() != 3) return std::nullopt;
    std::array<uint8_t, 3> key{};
    try {
        for (size_t i = 0; i < 3; ++i) key[i] = static_cast<uint8_t>(std::stoi(parts[i]));
    } catch (const std::exception& e) {
        Log::log(DEBUG_ServerComm, "%s: Exception converting version: %s\n", "_sortVersion", e.what());
        return std::nullopt;
    }
    return key;
}

}  // namespace

std::vector<UpdateServerRequest::BuildPair> UpdateServerRequest::SortBuildsByVersion(
    const BuildList& builds) {
    struct Entry {
        BuildPair pair;
        std::optional<std::array<uint8_t, 3>> key;
    };
    std::vector<Entry> entries;
    entries.reserve(builds.size());
    for (const auto& [build, version] : builds) entries.push_back({{build, version}, _versionKey(version)});
    // Keys are worked out once so the ordering is a strict weak order even
    // with versions that do not parse (those sink to the end).
    std::stable_sort(entries.begin(), entries.end(), [](const Entry& p, const Entry& q) {
        if (!p.key || !q.key) return p.key.has_value() && !q.key.has_value();
        const auto& a = *p.key;
        const auto& b = *q.key;
        return !aVersion_IsAtLeastCompare(b[0], b[1], b[2], a[0], a[1], a[2]);
    });
    std::vector<BuildPair> sorted;
    sorted.reserve(entries.size());
    for (Entry& entry : entries) sorted.push_back(std::move(entry.pair));
    return sorted;
}
