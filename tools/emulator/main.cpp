/*
 * quillcore-emulator - an emulated device module on 127.0.0.1 over TCP.
 * Prints "listening on 127.0.0.1:PORT" once it accepts connections and runs
 * until interrupted. With --transport usb or node the module is an emulated
 * USB device (or kernel node) instead, for a command given after "--".
 */
#include <getopt.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tools/emulator/DeviceModel.h"
#include "tools/emulator/TcpTransport.h"
#include "tools/emulator/UsbServe.h"

using namespace emulator;

namespace {

const char kUsage[] =
    "usage: quillcore-emulator [options] [-- command [args]]\n"
    "  -t, --transport T       tcp (default); usb: an emulated USB device; node: the kernel\n"
    "                          driver's /dev/quillcore.SSSSSSSS. Both under umockdev: the command\n"
    "                          after -- sees the device and its exit status is returned;\n"
    "                          without one, the testbed directory is printed\n"
    "  -P, --packet-size N     USB bulk packet size (default 64; 512 for high speed)\n"
    "  -p, --port N            TCP port on 127.0.0.1 (default 0: a free one, printed)\n"
    "  -c, --config FILE       identity from a JSON file (options below override it)\n"
    "  -s, --serial N          serial number (decimal or 0x hex)\n"
    "  -m, --model N           model number\n"
    "  -a, --module N          module address (even)\n"
    "  -r, --router N          router address\n"
    "  -v, --version V         firmware version, a.b.c or packed\n"
    "  -b, --build N           firmware build number\n"
    "  -n, --name TEXT         device name\n"
    "  -f, --features N        protocol features word\n"
    "  -u, --uid W0,W1,W2,W3   unique identifier, four 32-bit words\n"
    "  -H, --heartbeat-ms N    heartbeat interval, 0 for none (default 1000)\n"
    "  -h, --help              this text\n";

bool sNumberOption(const char* text, uint64_t max, uint64_t& value, const char* name) {
    if (ParseNumber(text, max, value)) return true;
    fprintf(stderr, "quillcore-emulator: bad value for --%s: %s\n", name, text);
    return false;
}

bool sParseUid(const std::string& text, DeviceIdentity& identity) {
    size_t start = 0;
    for (size_t i = 0; i < 4; i++) {
        size_t end = text.find(',', start);
        if ((end == std::string::npos) != (i == 3)) return false;
        uint64_t word;
        if (!ParseNumber(text.substr(start, end - start), UINT32_MAX, word)) return false;
        identity.uniqueIdentifier[i] = static_cast<uint32_t>(word);
        start = end + 1;
    }
    return true;
}

/* Reads the options; the config file first, so that options override it. */
/* How the module is served: TCP, or under umockdev for a command. */
struct Serving {
    std::string transport = "tcp";
    UsbDeviceOptions usb;
    char** command = nullptr;
};

int sParse(int argc, char** argv, DeviceIdentity& identity, uint16_t& port, Serving& serving) {
    const option options[] = {{"port", required_argument, nullptr, 'p'},
                              {"config", required_argument, nullptr, 'c'},
                              {"serial", required_argument, nullptr, 's'},
                              {"model", required_argument, nullptr, 'm'},
                              {"module", required_argument, nullptr, 'a'},
                              {"router", required_argument, nullptr, 'r'},
                              {"version", required_argument, nullptr, 'v'},
                              {"build", required_argument, nullptr, 'b'},
                              {"name", required_argument, nullptr, 'n'},
                              {"features", required_argument, nullptr, 'f'},
                              {"uid", required_argument, nullptr, 'u'},
                              {"heartbeat-ms", required_argument, nullptr, 'H'},
                              {"help", no_argument, nullptr, 'h'},
                              {"transport", required_argument, nullptr, 't'},
                              {"packet-size", required_argument, nullptr, 'P'},
                              {nullptr, 0, nullptr, 0}};
    const char* shortOptions = "+t:P:p:c:s:m:a:r:v:b:n:f:u:H:h";
    std::string error;
    for (int i = 1; i + 1 < argc; i++) {
        std::string arg = argv[i];
        if ((arg == "-c" || arg == "--config") && !LoadIdentityFile(argv[i + 1], identity, error)) {
            fprintf(stderr, "quillcore-emulator: %s\n", error.c_str());
            return 2;
        }
    }
    int c;
    uint64_t v = 0;
    while ((c = getopt_long(argc, argv, shortOptions, options, nullptr)) != -1) {
        bool ok = true;
        switch (c) {
            case 't': serving.transport = optarg; break;
            case 'P':
                ok = sNumberOption(optarg, 1024, v, "packet-size") && v >= 8 &&
                     ((serving.usb.packetSize = uint16_t(v)), true);
                break;
            case 'p': ok = sNumberOption(optarg, 65535, v, "port") && ((port = uint16_t(v)), true); break;
            case 'c': break;
            case 's':
                ok = sNumberOption(optarg, UINT32_MAX, v, "serial") &&
                     ((identity.serialNumber = uint32_t(v)), true);
                break;
            case 'm':
                ok = sNumberOption(optarg, 255, v, "model") && ((identity.model = uint8_t(v)), true);
                break;
            case 'a':
                ok = sNumberOption(optarg, 254, v, "module") && v && !(v & 1) &&
                     ((identity.moduleAddress = uint8_t(v)), true);
                break;
            case 'r':
                ok = sNumberOption(optarg, 255, v, "router") && ((identity.routerAddress = uint8_t(v)), true);
                break;
            case 'v': ok = ParseVersion(optarg, identity.firmwareVersion); break;
            case 'b':
                ok = sNumberOption(optarg, UINT32_MAX, v, "build") && ((identity.build = uint32_t(v)), true);
                break;
            case 'n': identity.name = optarg; break;
            case 'f':
                ok = sNumberOption(optarg, UINT32_MAX, v, "features") &&
                     ((identity.protocolFeatures = uint32_t(v)), true);
                break;
            case 'u': ok = sParseUid(optarg, identity); break;
            case 'H':
                ok = sNumberOption(optarg, UINT32_MAX, v, "heartbeat-ms") &&
                     ((identity.heartbeatMs = uint32_t(v)), true);
                break;
            case 'h': fputs(kUsage, stdout); return 0;
            default: fputs(kUsage, stderr); return 2;
        }
        if (!ok) {
            fprintf(stderr, "quillcore-emulator: bad value for -%c: %s\n", c, optarg);
            return 2;
        }
    }
    bool usb = serving.transport == "usb" || serving.transport == "node";
    if ((!usb && serving.transport != "tcp") || (optind < argc && !usb)) {
        fputs(kUsage, stderr);
        return 2;
    }
    serving.command = optind < argc ? argv + optind : nullptr;
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    DeviceIdentity identity;
    uint16_t port = 0;
    Serving serving;
    int done = sParse(argc, argv, identity, port, serving);
    if (done >= 0) return done;

    // Signals are taken by sigwait below, so no thread is interrupted by them.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    DeviceModel model(identity);
    if (serving.transport != "tcp") {
        return ServeUsb(model, serving.transport == "node", serving.usb, serving.command, signals);
    }
    TcpTransport transport(model);
    std::string error;
    if (!transport.start(port, error)) {
        fprintf(stderr, "quillcore-emulator: %s\n", error.c_str());
        return 1;
    }
    printf("listening on 127.0.0.1:%u\n", transport.port());
    fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    transport.stop();
    DeviceCounters c = model.snapshot();
    fprintf(stderr, "connections %llu, packets %llu, heartbeats sent %llu, answered %llu\n",
            static_cast<unsigned long long>(c.connections),
            static_cast<unsigned long long>(c.packetsReceived),
            static_cast<unsigned long long>(c.heartbeatsSent),
            static_cast<unsigned long long>(c.heartbeatAnswers));
    return 0;
}
