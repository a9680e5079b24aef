/*
 * birdtool - makes, scrambles and inspects BIRD firmware files.
 */
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/Log.h"
#include "common/UpdaterDisplay.h"
#include "firmware/AtomicFile.h"
#include "firmware/BirdFile.h"
#include "firmware/BirdSummary.h"
#include "tools/birdtool/BirdWriter.h"

namespace {

const char* kUsage =
    "Usage: birdtool COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  pack -o OUT [BLOCKS...] [OPTIONS]   write a BIRD file; blocks appear in the given order\n"
    "  scramble IN OUT --key K0,K1,K2,K3   scramble the firmware images for one chip (the\n"
    "                                      fingerprint's four words, hexadecimal)\n"
    "  inspect FILE [--log]                print the file's summary and check it (exit 1 when it\n"
    "                                      fails); --log writes the loader's debug lines to stderr\n"
    "\n"
    "Blocks of pack:\n"
    "  --info BUILD,VERSION,SERIAL,MODEL   information block (serial in hexadecimal)\n"
    "  --loader SOURCE@ADDR[:FLAGS]        loader image loaded at ADDR\n"
    "  --firmware SOURCE@ADDR[:FLAGS]      firmware image loaded at ADDR\n"
    "  --serial-offsets SADDR,DADDR        addresses of the serial-number word and descriptor text\n"
    "  --loader-start ADDR                 start address of the recovery loader\n"
    "  --block TYPE:FLAGS:SOURCE           any block, its data taken as is\n"
    "  SOURCE is a file, or gen:SIZE[:SEED] for synthetic firmware-like bytes (SIZE may end in K or M).\n"
    "\n"
    "Options of pack:\n"
    "  --level N            deflate level 0-9 (default: zlib's default)\n"
    "  --format-version V   header version word (default 0x0101)\n"
    "  --key K0,K1,K2,K3    scramble the firmware images as scramble does\n"
    "Deliberately malformed files (for tests):\n"
    "  --signature TEXT     four header bytes other than \"bird\"\n"
    "  --count N            announce N blocks whatever the real count\n"
    "  --checksum V         store V instead of the CRC-32 of the body\n"
    "  --trailing N         N zero bytes after the checksum\n"
    "  --truncate N         cut N bytes from the end of the compressed body\n"
    "  --overlong N         declare the last block N bytes longer than its data\n"
    "  --body-only          write only the inflated body (no header, not compressed)\n"
    "\n"
    "Numbers are decimal or 0x-prefixed hexadecimal.\n";

class StdioDisplay : public UpdaterDisplayInterface {
public:
    void display_progress(bool) override {}
    void update_progress(double, char const*) override {}
    void update_spinner(bool, char const*) override {}
    void info_message(char const* text) override { printf("%s\n", text); }
    void error_message(char const* text) override { fprintf(stderr, "%s\n", text); }
};

struct UsageError {
    std::string text;
};

[[noreturn]] void _usage_error(const std::string& text) { throw UsageError{text}; }

uint64_t _number(const std::string& text, const char* what) {
    if (text.empty()) _usage_error(std::string("missing ") + what);
    char* end = nullptr;
    errno = 0;
    unsigned long long value = strtoull(text.c_str(), &end, 0);
    uint64_t scale = 1;
    if (*end == 'K' || *end == 'k')
        scale = 1024, ++end;
    else if (*end == 'M' || *end == 'm')
        scale = 1024 * 1024, ++end;
    if (errno || *end || text[0] == '-') _usage_error(std::string("bad ") + what + ": " + text);
    return value * scale;
}

uint32_t _u32(const std::string& text, const char* what) {
    uint64_t value = _number(text, what);
    if (value > 0xFFFFFFFFu) _usage_error(std::string(what) + " out of range: " + text);
    return static_cast<uint32_t>(value);
}

std::vector<std::string> _split(const std::string& text, char separator, size_t parts) {
    std::vector<std::string> out;
    size_t start = 0;
    while (out.size() + 1 < parts) {
        size_t at = text.find(separator, start);
        if (at == std::string::npos) break;
        out.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    out.push_back(text.substr(start));
    return out;
}

void _parse_key(const std::string& text, uint32_t key[4]) {
    std::vector<std::string> words = _split(text, ',', 4);
    if (words.size() != 4) _usage_error("a key is four words: K0,K1,K2,K3");
    for (int i = 0; i < 4; ++i) {
        char* end = nullptr;
        unsigned long value = strtoul(words[i].c_str(), &end, 16);
        if (words[i].empty() || *end || value > 0xFFFFFFFFul) _usage_error("bad key word: " + words[i]);
        key[i] = static_cast<uint32_t>(value);
    }
}

std::vector<uint8_t> _source(const std::string& source) {
    if (source.rfind("gen:", 0) == 0) {
        std::vector<std::string> parts = _split(source.substr(4), ':', 2);
        uint32_t seed = parts.size() > 1 ? _u32(parts[1], "seed") : 1;
        return BirdWriter_SyntheticImage(_number(parts[0], "size"), seed);
    }
    std::ifstream in(source, std::ios::binary);
    if (!in) _usage_error("cannot read " + source);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void _add_image(BirdWriter& writer, uint8_t type, const std::string& argument) {
    size_t at = argument.rfind('@');
    if (at == std::string::npos) _usage_error("an image is SOURCE@ADDR[:FLAGS]: " + argument);
    std::vector<std::string> where = _split(argument.substr(at + 1), ':', 2);
    uint8_t flags = where.size() > 1 ? static_cast<uint8_t>(_u32(where[1], "flags")) : 0;
    if (flags > 7) _usage_error("flags are 0 to 7");
    writer.AddImage(type, flags, _u32(where[0], "address"), _source(argument.substr(0, at)));
}

bool _write_body(const BirdWriter& writer, const std::string& path) {
    std::vector<uint8_t> body = writer.Body();
    return AtomicFile_Write(path, body.data(), body.size()) == aErrNone;
}

int _pack(const std::vector<std::string>& args) {
    BirdWriter writer;
    std::string output;
    uint32_t key[4];
    bool scramble = false;
    bool bodyOnly = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (option == "--body-only") {
            bodyOnly = true;
            continue;
        }
        if (i + 1 >= args.size()) _usage_error("missing value of " + option);
        const std::string& value = args[++i];
        if (option == "-o" || option == "--output") {
            output = value;
        } else if (option == "--info") {
            std::vector<std::string> f = _split(value, ',', 4);
            if (f.size() != 4) _usage_error("--info takes BUILD,VERSION,SERIAL,MODEL");
            writer.AddInfoText(f[0], f[1], f[2], f[3]);
        } else if (option == "--loader") {
            _add_image(writer, BLOCK_TYPE_LOADER, value);
        } else if (option == "--firmware") {
            _add_image(writer, BLOCK_TYPE_FIRMWARE, value);
        } else if (option == "--serial-offsets") {
            std::vector<std::string> f = _split(value, ',', 2);
            if (f.size() != 2) _usage_error("--serial-offsets takes SADDR,DADDR");
            writer.AddSerialOffsets(_u32(f[0], "address"), _u32(f[1], "address"));
        } else if (option == "--loader-start") {
            writer.AddLoaderStart(_u32(value, "address"));
        } else if (option == "--block") {
            std::vector<std::string> f = _split(value, ':', 3);
            if (f.size() != 3) _usage_error("--block takes TYPE:FLAGS:SOURCE");
            uint32_t type = _u32(f[0], "type"), flags = _u32(f[1], "flags");
            if (type > 31 || flags > 7) _usage_error("a block type is 0 to 31, its flags 0 to 7");
            writer.AddBlock(static_cast<uint8_t>(type), static_cast<uint8_t>(flags), _source(f[2]));
        } else if (option == "--level") {
            uint32_t level = _u32(value, "level");
            if (level > 9) _usage_error("the level is 0 to 9");
            writer.level = static_cast<int>(level);
        } else if (option == "--format-version") {
            uint32_t version = _u32(value, "format version");
            if (version > 0xFFFF) _usage_error("the format version is a 16-bit word");
            writer.formatVersion = static_cast<uint16_t>(version);
        } else if (option == "--key") {
            _parse_key(value, key);
            scramble = true;
        } else if (option == "--signature") {
            if (value.size() != 4) _usage_error("the signature is four bytes");
            writer.signature = value;
        } else if (option == "--count") {
            writer.announcedCount = _u32(value, "count");
        } else if (option == "--checksum") {
            writer.checksum = _u32(value, "checksum");
        } else if (option == "--trailing") {
            writer.trailingBytes = _number(value, "trailing bytes");
        } else if (option == "--truncate") {
            writer.truncateBody = _number(value, "truncate bytes");
        } else if (option == "--overlong") {
            writer.overlongLast = _u32(value, "overlong bytes");
        } else {
            _usage_error("unknown option of pack: " + option);
        }
    }
    if (output.empty()) _usage_error("pack needs -o OUT");
    if (scramble) writer.ScrambleFirmware(key);
    if (bodyOnly ? !_write_body(writer, output) : !writer.Write(output)) {
        fprintf(stderr, "birdtool: cannot write %s: %s\n", output.c_str(), strerror(errno));
        return 1;
    }
    return 0;
}

int _scramble(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    uint32_t key[4];
    bool haveKey = false;
    int level = -1;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--key" && i + 1 < args.size()) {
            _parse_key(args[++i], key);
            haveKey = true;
        } else if (args[i] == "--level" && i + 1 < args.size()) {
            level = static_cast<int>(_u32(args[++i], "level"));
            if (level > 9) _usage_error("the level is 0 to 9");
        } else {
            files.push_back(args[i]);
        }
    }
    if (files.size() != 2 || !haveKey) _usage_error("scramble takes IN OUT --key K0,K1,K2,K3");
    BirdFile bird;
    if (!BirdFile::VerifyFile(files[0]) || !bird.Load(files[0]) || !bird.GetScanError().empty()) {
        fprintf(stderr, "birdtool: %s is not a well-formed BIRD file\n", files[0].c_str());
        return 1;
    }
    BirdWriter writer;
    writer.formatVersion = bird.GetFormatVersion();
    writer.checksum = bird.GetChecksum();  // only the image bytes change
    writer.level = level;
    for (const BirdBlock& block : bird.GetBlocks())
        writer.AddBlock(block.type, block.flags, std::vector<uint8_t>(block.data, block.data + block.length));
    writer.ScrambleFirmware(key);
    if (!writer.Write(files[1])) {
        fprintf(stderr, "birdtool: cannot write %s: %s\n", files[1].c_str(), strerror(errno));
        return 1;
    }
    return 0;
}

int _inspect(const std::vector<std::string>& args) {
    std::string path;
    for (const std::string& arg : args) {
        if (arg == "--log") {
            Log::SetOutput(stderr);
            Log::ActivatePackage(DEBUG_BirdFile);
        } else if (path.empty()) {
            path = arg;
        } else {
            _usage_error("inspect takes one FILE");
        }
    }
    if (path.empty()) _usage_error("inspect takes one FILE");
    StdioDisplay display;
    return PrintBirdSummary(path, display) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "-h" || args[0] == "--help" || args[0] == "help") {
        fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    std::string command = args[0];
    args.erase(args.begin());
    try {
        if (command == "pack") return _pack(args);
        if (command == "scramble") return _scramble(args);
        if (command == "inspect") return _inspect(args);
        _usage_error("unknown command: " + command);
    } catch (const UsageError& e) {
        fprintf(stderr, "birdtool: %s (see birdtool --help)\n", e.text.c_str());
        return 2;
    } catch (const std::exception& e) {
        fprintf(stderr, "birdtool: %s\n", e.what());
        return 1;
    }
}
