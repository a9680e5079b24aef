/*
 * update-mirror - answers the update server's protocol from a directory.
 * See UpdateMirror.h for the layout of ROOT and usage() for the options.
 */
#include <getopt.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "tools/update-mirror/MirrorServer.h"
#include "tools/update-mirror/UpdateMirror.h"

namespace {

void usage(FILE* out) {
    fprintf(out,
            "usage: update-mirror --root DIR [options]\n"
            "  --root DIR          builds in DIR/SSSSSSSS/NNNN.bird, recovery and tokens in DIR/mirror.json\n"
            "  --bind ADDRESS      address to listen on (default 127.0.0.1)\n"
            "  --port N            port to listen on; 0 picks a free one (default 0).\n"
            "                      The port is printed on the first line of standard output.\n"
            "  --https --cert FILE --key FILE   serve HTTPS with this certificate and key (PEM)\n"
            "  --log FILE          append each request's query string to FILE, one line each\n"
            "fault injection (for tests):\n"
            "  --fail-status N     answer with HTTP status N\n"
            "  --refuse            answer with a first line other than \"ok\"\n"
            "  --cut-body BYTES    send only the first BYTES bytes of each body\n"
            "  --drop-after BYTES  announce the whole body but close the connection after its\n"
            "                      first BYTES bytes\n"
            "  --delay-ms N        wait N ms before answering\n"
            "  --fault-op OP       apply the faults only to operation OP (hi, qu, bird, builds,\n"
            "                      fix, ent_jwt); may be repeated; default: every operation\n");
}

bool number(const char* text, long min, long max, long& value) {
    char* end = nullptr;
    errno = 0;
    value = strtol(text, &end, 10);
    return *text && !*end && errno == 0 && value >= min && value <= max;
}

/* The mirror only reads ROOT, and its log must not land there either. */
bool insideRoot(const std::string& root, const std::string& file) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const std::string base = fs::weakly_canonical(root, ec).string() + "/";
    const std::string path = fs::weakly_canonical(file, ec).string();
    return path.compare(0, base.size(), base) == 0;
}

enum Option {
    ROOT = 1,
    BIND,
    PORT,
    HTTPS,
    CERT,
    KEY,
    LOG,
    FAIL_STATUS,
    REFUSE,
    CUT_BODY,
    DROP_AFTER,
    DELAY_MS,
    FAULT_OP,
    HELP
};

bool parse(int argc, char** argv, MirrorSettings& mirror, MirrorServerSettings& server) {
    static const struct option options[] = {
        {"root", required_argument, nullptr, ROOT},
        {"bind", required_argument, nullptr, BIND},
        {"port", required_argument, nullptr, PORT},
        {"https", no_argument, nullptr, HTTPS},
        {"cert", required_argument, nullptr, CERT},
        {"key", required_argument, nullptr, KEY},
        {"log", required_argument, nullptr, LOG},
        {"fail-status", required_argument, nullptr, FAIL_STATUS},
        {"refuse", no_argument, nullptr, REFUSE},
        {"cut-body", required_argument, nullptr, CUT_BODY},
        {"drop-after", required_argument, nullptr, DROP_AFTER},
        {"delay-ms", required_argument, nullptr, DELAY_MS},
        {"fault-op", required_argument, nullptr, FAULT_OP},
        {"help", no_argument, nullptr, HELP},
        {nullptr, 0, nullptr, 0},
    };
    long value = 0;
    for (int c; (c = getopt_long(argc, argv, "", options, nullptr)) != -1;) {
        switch (c) {
            case ROOT: mirror.root = optarg; break;
            case BIND: server.bind = optarg; break;
            case PORT:
                if (!number(optarg, 0, 65535, value)) return fprintf(stderr, "bad port %s\n", optarg), false;
                server.port = static_cast<int>(value);
                break;
            case HTTPS: server.https = true; break;
            case CERT: server.cert = optarg; break;
            case KEY: server.key = optarg; break;
            case LOG: server.log = optarg; break;
            case FAIL_STATUS:
                if (!number(optarg, 100, 599, value))
                    return fprintf(stderr, "bad status %s\n", optarg), false;
                mirror.failStatus = static_cast<int>(value);
                break;
            case REFUSE: mirror.refuse = true; break;
            case CUT_BODY:
                if (!number(optarg, 0, 1L << 40, value))
                    return fprintf(stderr, "bad length %s\n", optarg), false;
                mirror.cutBody = static_cast<size_t>(value);
                break;
            case DROP_AFTER:
                if (!number(optarg, 0, 1L << 40, value))
                    return fprintf(stderr, "bad length %s\n", optarg), false;
                mirror.dropAfter = static_cast<size_t>(value);
                break;
            case DELAY_MS:
                if (!number(optarg, 0, 600000, value))
                    return fprintf(stderr, "bad delay %s\n", optarg), false;
                mirror.delayMs = static_cast<unsigned>(value);
                break;
            case FAULT_OP: mirror.faultOps.insert(optarg); break;
            case HELP: usage(stdout); exit(0);
            default: usage(stderr); return false;
        }
    }
    if (optind < argc) return fprintf(stderr, "unexpected argument %s\n", argv[optind]), false;
    if (mirror.root.empty()) return fprintf(stderr, "--root is required\n"), false;
    if (server.https && (server.cert.empty() || server.key.empty())) {
        return fprintf(stderr, "--https needs --cert and --key\n"), false;
    }
    if (!server.log.empty() && insideRoot(mirror.root, server.log)) {
        return fprintf(stderr, "the log file must not be inside --root\n"), false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    MirrorSettings mirrorSettings;
    MirrorServerSettings serverSettings;
    if (!parse(argc, argv, mirrorSettings, serverSettings)) return 2;

    // Termination signals are taken by one waiting thread, which stops the
    // server; every other thread (the server's pool included) keeps them blocked.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    try {
        UpdateMirror mirror(mirrorSettings);
        MirrorServer server(mirror, serverSettings);
        const int port = server.Bind();
        if (port < 0) {
            fprintf(stderr, "update-mirror: cannot listen on %s:%d\n", serverSettings.bind.c_str(),
                    serverSettings.port);
            return 1;
        }
        printf("%d\n", port);
        fflush(stdout);

        std::thread stopper([&server, &stopSignals] {
            int signal = 0;
            sigwait(&stopSignals, &signal);
            server.Stop();
        });
        const bool served = server.Run();
        // Serving may have ended without a signal: wake the stopper so it can be joined.
        pthread_kill(stopper.native_handle(), SIGTERM);
        stopper.join();
        if (!served) {
            fprintf(stderr, "update-mirror: serving failed\n");
            return 1;
        }
        return 0;
    } catch (const std::exception& e) {
        fprintf(stderr, "update-mirror: %s\n", e.what());
        return 1;
    }
}
