#include "server/ServerAnswer.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

#include "common/Log.h"

namespace {

/* printf precision for a view, so logging never reads past it. */
int _shown(std::string_view text, size_t most = 4096) {
    return static_cast<int>(std::min(text.size(), most));
}

std::string_view _line(const std::vector<std::string_view>& lines, size_t index) {
    return index < lines.size() ? lines[index] : std::string_view();
}

/* Text up to the first of the given delimiters (all of it if none). */
std::string_view _field(std::string_view text, std::string_view delimiters) {
    return text.substr(0, std::min(text.find_first_of(delimiters), text.size()));
}

/* A number as strtoul reads it (leading blanks, digits, anything after
 * ignored), refused when there are no digits, a sign, or more than 32 bits. */
bool _number(std::string_view line, int base, uint32_t& value) {
    const std::string text(line);
    const char* start = text.c_str();
    while (*start == ' ' || *start == '\t') ++start;
    if (*start == '-' || *start == '+') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = strtoull(start, &end, base);
    if (end == start || errno == ERANGE || parsed > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

/* Printable ASCII without blanks: what a token may hold before it is shown. */
bool _printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c > 0x20 && c < 0x7F; });
}

}  // namespace

std::vector<std::string_view> ServerAnswer::Lines(std::string_view body) {
    std::vector<std::string_view> lines;
    size_t start = 0;
    while (start < body.size()) {
        const size_t end = body.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(body.substr(start));
            break;
        }
        lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

bool ServerAnswer::Accepted(const char* operation, const std::vector<std::string_view>& lines,
                            const std::string& request) {
    if (!lines.empty() && lines[0].substr(0, 2) == "ok") return true;
    Log::log(DEBUG_ServerComm, "ServerCommClass: %s failed [%s]\n", operation, request.c_str());
    return false;
}

bool ServerAnswer::Ping(std::string_view body, const std::string& request) {
    return Accepted("ping", Lines(body), request);
}

bool ServerAnswer::QueryBuild(std::string_view body, const std::string& request, std::string& build,
                              std::string& firmware) {
    const std::vector<std::string_view> lines = Lines(body);
    if (!Accepted("QueryBuild", lines, request)) return false;
    if (lines.size() > 1) build = lines[1];
    if (lines.size() > 2) firmware = _field(lines[2], "\r\n");
    return true;
}

bool ServerAnswer::GetBuild(std::string& body, const std::string& request, std::string& base64) {
    const size_t firstEnd = body.find('\n');
    const std::string_view first = std::string_view(body).substr(0, firstEnd);
    if (!Accepted("GetBuild", {first}, request)) return false;
    if (firstEnd == std::string::npos) {
        base64.clear();
        return true;
    }
    // Line 2 can be tens of megabytes: shift it to the front and hand the
    // buffer over instead of copying it.
    body.erase(0, firstEnd + 1);
    const size_t secondEnd = body.find('\n');
    if (secondEnd != std::string::npos) body.resize(secondEnd);
    base64 = std::move(body);
    body.clear();
    return true;
}

bool ServerAnswer::GetBuildList(std::string_view body, const std::string& request,
                                UpdateServerRequest::BuildList& builds) {
    const std::vector<std::string_view> lines = Lines(body);
    if (!Accepted("GetBuildList", lines, request)) return false;
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view line = lines[i];
        if (line.size() < 3) continue;
        Log::log(DEBUG_ServerComm, "%s processing entry: [%.*s]\n", "GetBuildList", _shown(line),
                 line.data());
        const std::string_view build = _field(line, ";\r\n");
        std::string_view version;
        if (build.size() < line.size() && line[build.size()] == ';') {
            version = _field(line.substr(build.size() + 1), ";\r\n");
        }
        Log::log(DEBUG_ServerComm, "%s [%.*s][%.*s]\n", "GetBuildList", _shown(build, 10), build.data(),
                 _shown(version, 10), version.data());
        // An entry without a build names nothing that could be fetched.
        if (build.empty()) continue;
        builds.emplace(std::string(build), std::string(version));
    }
    return true;
}

bool ServerAnswer::GetRecoveryInfo(std::string_view body, const std::string& request, uint32_t& serial,
                                   uint32_t& build) {
    const std::vector<std::string_view> lines = Lines(body);
    if (!Accepted("GetRecoveryInfo", lines, request)) return false;
    const std::string_view first = _line(lines, 0), second = _line(lines, 1), third = _line(lines, 2);
    Log::log(DEBUG_ServerComm, "%s [%.*s][%.*s][%.*s]\n", "GetRecoveryInfo", _shown(first, 20), first.data(),
             _shown(second, 20), second.data(), _shown(third, 20), third.data());
    // A line that is there but holds no 32-bit number would name the wrong
    // device or build: refuse the answer rather than recover with it.
    uint32_t newSerial = serial, newBuild = build;
    if (lines.size() > 1 && !_number(second, 16, newSerial)) return false;
    if (lines.size() > 2 && !_number(third, 0, newBuild)) return false;
    serial = newSerial;
    build = newBuild;
    return true;
}

bool ServerAnswer::GetDeviceJWT(std::string_view body, const std::string& request, std::string& jwt) {
    const std::vector<std::string_view> lines = Lines(body);
    if (!Accepted("GetDeviceJWT", lines, request)) return false;
    if (lines.size() < 2) return false;
    const std::string_view line = _field(lines[1], "\r\n");
    Log::log(DEBUG_ServerComm, "%s processing entry: [%.*s]\n", "GetDeviceJWT", _shown(line), line.data());
    if (line.size() < 3) return false;
    const size_t firstDot = line.find('.');
    if (firstDot == std::string_view::npos) return false;
    const size_t secondDot = line.find('.', firstDot + 1);
    if (secondDot == std::string_view::npos) return false;
    const std::string_view header = line.substr(0, firstDot);
    const std::string_view payload = line.substr(firstDot + 1, secondDot - firstDot - 1);
    const std::string_view signature = line.substr(secondDot + 1);
    if (header.size() < 2 || payload.size() < 2 || signature.size() < 2) return false;
    // The token is printed as is: keep control characters off the terminal.
    if (!_printable(line)) return false;
    jwt.assign(line);
    return true;
}

BuildAnswer::BuildAnswer(UpdateServerRequest::BuildSink& sink)
    : sink_(sink), decoder_([&sink](const uint8_t* bytes, size_t length) { sink.Bytes(bytes, length); }) {}

void BuildAnswer::Expect(uint64_t length) {
    // Line 2 is at most the whole body; four characters give three bytes.
    const uint64_t most = length / 4 * 3;
    sink_.Expect(static_cast<size_t>(std::min<uint64_t>(most, SIZE_MAX)));
}

void BuildAnswer::Take(const char* data, size_t length) {
    std::string_view piece(data, length);
    while (!piece.empty() && part_ != Part::Rest) {
        const size_t end = piece.find('\n');
        const std::string_view line = piece.substr(0, end);
        if (part_ == Part::First) {
            head_.append(line.substr(0, 2 - std::min<size_t>(head_.size(), 2)));
        } else {
            decoder_.Feed(line.data(), line.size());
        }
        if (end == std::string_view::npos) break;
        part_ = part_ == Part::First ? Part::Text : Part::Rest;
        piece.remove_prefix(end + 1);
    }
}

bool BuildAnswer::Finish(const std::string& request, UpdateServerRequest::BuildText& text) {
    if (!ServerAnswer::Accepted("GetBuild", {head_}, request)) return false;
    text.length = decoder_.TextLength();
    text.valid = decoder_.Finish();
    text.bytes = decoder_.DecodedLength();
    return true;
}
