/*
 * ServerAnswer.h - parsers for the bodies the update server sends back.
 *
 * Bodies are untrusted: every parser works on the bytes it was given, never
 * reads past them and never throws. Each checks the "ok" first line
 * (logging a refusal with the operation name and request URL) and then
 * parses its result lines; out-parameters are written only on success.
 */
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/UpdateServerRequest.h"

class ServerAnswer {
public:
    /* Lines of a body split at LF; text after the last LF counts only when
     * there is some. */
    static std::vector<std::string_view> Lines(std::string_view body);
    /* True when the first line begins with "ok"; logs the refusal otherwise. */
    static bool Accepted(const char* operation, const std::vector<std::string_view>& lines,
                         const std::string& request);

    static bool Ping(std::string_view body, const std::string& request);
    static bool QueryBuild(std::string_view body, const std::string& request, std::string& build,
                           std::string& firmware);
    /* Consumes body: line 2 is moved out of it into base64 without a copy,
     * since it can be tens of megabytes. */
    static bool GetBuild(std::string& body, const std::string& request, std::string& base64);
    static bool GetBuildList(std::string_view body, const std::string& request,
                             UpdateServerRequest::BuildList& builds);
    static bool GetRecoveryInfo(std::string_view body, const std::string& request, uint32_t& serial,
                                uint32_t& build);
    static bool GetDeviceJWT(std::string_view body, const std::string& request, std::string& jwt);
};
