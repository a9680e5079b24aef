#include "tools/update-mirror/UpdateMirror.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "server/UpdateServerRequest.h"

namespace fs = std::filesystem;
using json = nlohmann::json;

namespace {

MirrorAnswer _refuse(const std::string& why) { return {200, "error: " + why + "\n"}; }

bool _allOf(const std::string& text, int (*test)(int)) {
    return std::all_of(text.begin(), text.end(),
                       [test](char c) { return test(static_cast<unsigned char>(c)); });
}

/* 1 to 8 hexadecimal digits, as the client sends "%08X". */
bool _serial(const std::string& text, uint32_t& serial) {
    if (text.empty() || text.size() > 8 || !_allOf(text, isxdigit)) return false;
    serial = static_cast<uint32_t>(std::stoul(text, nullptr, 16));
    return true;
}

/* A build number in decimal that fits 32 bits. */
bool _build(const std::string& text, uint32_t& build) {
    if (text.empty() || text.size() > 10 || !_allOf(text, isdigit)) return false;
    const unsigned long long value = std::stoull(text);
    if (value > 0xFFFFFFFFull) return false;
    build = static_cast<uint32_t>(value);
    return true;
}

std::string _hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof(text), "%08X", value);
    return text;
}

/* The build files of one device directory: NNNN.bird, by build number. */
std::map<uint32_t, fs::path> _buildFiles(const std::string& dir) {
    std::map<uint32_t, fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= 5 || name.compare(name.size() - 5, 5, ".bird") != 0) continue;
        uint32_t build = 0;
        if (!_build(name.substr(0, name.size() - 5), build)) continue;
        std::error_code fileEc;
        if (!fs::is_regular_file(it->path(), fileEc)) continue;
        files.emplace(build, it->path());
    }
    return files;
}

bool _readFile(const fs::path& path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) return false;
    bytes = std::move(buffer).str();
    return true;
}

std::string _base64url(const uint8_t* data, size_t length) {
    std::string text = UpdateServerRequest::base64_encode(data, length);
    while (!text.empty() && text.back() == '=') text.pop_back();
    std::replace(text.begin(), text.end(), '+', '-');
    std::replace(text.begin(), text.end(), '/', '_');
    return text;
}

std::string _base64url(const std::string& text) {
    return _base64url(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

}  // namespace

UpdateMirror::UpdateMirror(MirrorSettings settings) : settings_(std::move(settings)) {
    std::error_code ec;
    if (!fs::is_directory(settings_.root, ec)) throw std::runtime_error("not a directory: " + settings_.root);
    _loadConfig();
}

void UpdateMirror::_loadConfig() {
    const fs::path path = fs::path(settings_.root) / "mirror.json";
    std::error_code ec;
    if (!fs::exists(path, ec)) return;
    std::string text;
    if (!_readFile(path, text)) throw std::runtime_error("cannot read " + path.string());
    try {
        const json config = json::parse(text);
        firmware_ = config.value("firmware", firmware_);
        secret_ = config.value("secret", "");
        const json recovery = config.value("recovery", json::object());
        const json tokens = config.value("tokens", json::object());
        for (const auto& [key, value] : recovery.items()) {
            std::array<uint32_t, 4> words{};
            uint32_t serial = 0;
            if (!ParseFingerprint(key, words)) throw std::runtime_error("bad fingerprint \"" + key + "\"");
            const json& build = value.at("build");
            if (!_serial(value.at("serial").get<std::string>(), serial)) {
                throw std::runtime_error("bad serial number for fingerprint \"" + key + "\"");
            }
            recovery_[words] = {
                serial, build.is_string() ? build.get<std::string>() : std::to_string(build.get<uint32_t>())};
        }
        for (const auto& [key, value] : tokens.items()) {
            uint32_t serial = 0;
            if (!_serial(key, serial))
                throw std::runtime_error("bad serial number \"" + key + "\" in tokens");
            Token token;
            if (value.contains("token"))
                token.token = value.at("token").get<std::string>();
            else
                token.features = value.at("features").dump();
            tokens_[serial] = std::move(token);
        }
    } catch (const json::exception& e) {
        throw std::runtime_error(path.string() + ": " + e.what());
    } catch (const std::runtime_error& e) {
        throw std::runtime_error(path.string() + ": " + e.what());
    }
}

bool UpdateMirror::ParseFingerprint(const std::string& text, std::array<uint32_t, 4>& words) {
    std::istringstream in(text);
    std::string word;
    size_t count = 0;
    while (in >> word) {
        if (count == 4 || !_serial(word, words[count])) return false;
        ++count;
    }
    return count == 4;
}

std::string UpdateMirror::MintJwt(const std::string& secret, const std::string& payload) {
    const std::string signingInput = _base64url(R"({"alg":"HS256","typ":"JWT"})") + "." + _base64url(payload);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int macLength = 0;
    if (!HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
              reinterpret_cast<const unsigned char*>(signingInput.data()), signingInput.size(), mac,
              &macLength)) {
        throw std::runtime_error("HMAC failed");
    }
    return signingInput + "." + _base64url(mac, macLength);
}

bool UpdateMirror::Faulted(const std::string& op) const {
    return settings_.faultOps.empty() || settings_.faultOps.count(op) != 0;
}

std::string UpdateMirror::_deviceDir(uint32_t serial) const {
    return (fs::path(settings_.root) / _hex8(serial)).string();
}

std::map<uint32_t, std::string> UpdateMirror::Builds(uint32_t serial) const {
    std::map<uint32_t, std::string> builds;
    for (const auto& [build, path] : _buildFiles(_deviceDir(serial))) builds[build] = _version(path.string());
    return builds;
}

std::string UpdateMirror::_version(const std::string& path) const {
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    const int64_t modified = fs::last_write_time(path, ec).time_since_epoch().count();
    {
        std::lock_guard<std::mutex> lock(versionsMutex_);
        const auto it = versions_.find(path);
        if (it != versions_.end() && it->second.size == size && it->second.modified == modified) {
            return it->second.version;
        }
    }
    // Read outside the lock: other requests go on while a large file inflates.
    std::string version = BuildVersion(path);
    std::lock_guard<std::mutex> lock(versionsMutex_);
    versions_[path] = {size, modified, version};
    return version;
}

MirrorAnswer UpdateMirror::Respond(const std::map<std::string, std::string>& query) const {
    const auto op = query.find("op");
    const bool faulted = Faulted(op == query.end() ? std::string() : op->second);
    MirrorAnswer answer;
    if (faulted && settings_.failStatus != 0)
        answer = {settings_.failStatus, "error: injected failure\n"};
    else if (faulted && settings_.refuse)
        answer = {200, "refused\n"};
    else
        answer = _answer(query);
    if (faulted && settings_.cutBody && answer.body.size() > *settings_.cutBody)
        answer.body.resize(*settings_.cutBody);
    return answer;
}

MirrorAnswer UpdateMirror::_answer(const std::map<std::string, std::string>& query) const {
    auto param = [&query](const char* key) {
        const auto it = query.find(key);
        return it == query.end() ? std::string() : it->second;
    };
    const std::string op = param("op");
    if (op == "hi") return {200, "ok\n"};
    if (op == "fix") return _recovery(param("fp"));
    uint32_t serial = 0;
    if (op != "qu" && op != "bird" && op != "builds" && op != "ent_jwt") return _refuse("unknown operation");
    if (!_serial(param("sn"), serial)) return _refuse("bad serial number");
    if (op == "qu") return _latest(serial);
    if (op == "bird") return _bird(serial, param("bld"));
    if (op == "builds") return _builds(serial);
    return _token(serial);
}

MirrorAnswer UpdateMirror::_latest(uint32_t serial) const {
    const std::map<uint32_t, fs::path> files = _buildFiles(_deviceDir(serial));
    if (files.empty()) return _refuse("no builds for " + _hex8(serial));
    return {200, "ok\n" + std::to_string(files.rbegin()->first) + "\n" + firmware_ + "\n"};
}

MirrorAnswer UpdateMirror::_bird(uint32_t serial, const std::string& buildText) const {
    uint32_t build = 0;
    if (!_build(buildText, build)) return _refuse("bad build number");
    const std::map<uint32_t, fs::path> files = _buildFiles(_deviceDir(serial));
    const auto it = files.find(build);
    if (it == files.end()) return _refuse("no build " + std::to_string(build) + " for " + _hex8(serial));
    std::string bytes;
    if (!_readFile(it->second, bytes)) return {500, "error: cannot read build\n"};
    const std::string text =
        UpdateServerRequest::base64_encode(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::string body;
    body.reserve(text.size() + 4);
    body += "ok\n";
    body += text;
    body += '\n';
    return {200, std::move(body)};
}

MirrorAnswer UpdateMirror::_builds(uint32_t serial) const {
    std::error_code ec;
    if (!fs::is_directory(_deviceDir(serial), ec)) return _refuse("unknown device " + _hex8(serial));
    std::string body = "ok\n";
    for (const auto& [build, version] : Builds(serial)) body += std::to_string(build) + ";" + version + "\n";
    return {200, body};
}

MirrorAnswer UpdateMirror::_recovery(const std::string& fingerprint) const {
    std::array<uint32_t, 4> words{};
    if (!ParseFingerprint(fingerprint, words)) return _refuse("bad fingerprint");
    const auto it = recovery_.find(words);
    if (it == recovery_.end()) return _refuse("unknown fingerprint");
    return {200, "ok\n" + _hex8(it->second.serial) + "\n" + it->second.build + "\n"};
}

MirrorAnswer UpdateMirror::_token(uint32_t serial) const {
    const auto it = tokens_.find(serial);
    if (it == tokens_.end()) return _refuse("no token for " + _hex8(serial));
    if (!it->second.token.empty()) return {200, "ok\n" + it->second.token + "\n"};
    if (secret_.empty()) return _refuse("no secret to sign tokens with");
    const json payload = {{"sn", _hex8(serial)},
                          {"features", json::parse(it->second.features)},
                          {"iat", static_cast<long long>(time(nullptr))}};
    return {200, "ok\n" + MintJwt(secret_, payload.dump()) + "\n"};
}
