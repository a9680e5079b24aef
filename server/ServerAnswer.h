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

#include "server/Base64Decoder.h"
#include "server/HTTPRequest.h"
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

/* The GetBuild answer taken piece by piece as it arrives: the first line is
 * held until it ends, line 2 is decoded on the way into the sink, what
 * follows is ignored. However the body is cut, the outcome is the one that
 * ServerAnswer::GetBuild followed by base64_decode gives for the whole body. */
class BuildAnswer : public HTTPBodySink {
public:
    explicit BuildAnswer(UpdateServerRequest::BuildSink& sink);

    void Expect(uint64_t length) override;
    void Take(const char* data, size_t length) override;

    /* After the last piece: the "ok" check as GetBuild makes it (with its log
     * line), then what line 2 turned out to be. */
    bool Finish(const std::string& request, UpdateServerRequest::BuildText& text);

private:
    enum class Part { First, Text, Rest };

    UpdateServerRequest::BuildSink& sink_;
    Base64Decoder decoder_;
    Part part_ = Part::First;
    std::string head_;  // the first line's first two characters: all the check needs
};
