#include "tools/emulator/UsbServe.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tools/emulator/KernelNodeTransport.h"
#include "tools/emulator/UsbTestbed.h"

extern char** environ;

namespace emulator {

namespace {

/* This process's environment with the preload added; built as a copy,
 * since other threads are running by now. */
std::vector<std::string> sCommandEnvironment() {
    std::vector<std::string> env;
    std::string preload = "libumockdev-preload.so.0", asan = "verify_asan_link_order=0";
    for (char** e = environ; *e; e++) {
        std::string entry = *e;
        if (entry.rfind("LD_PRELOAD=", 0) == 0) {
            preload += ":" + entry.substr(11);
        } else if (entry.rfind("ASAN_OPTIONS=", 0) == 0) {
            // An ASan build must accept the preload ahead of its runtime.
            asan = entry.substr(13) + ":" + asan;
        } else {
            env.push_back(entry);
        }
    }
    env.push_back("LD_PRELOAD=" + preload);
    env.push_back("ASAN_OPTIONS=" + asan);
    return env;
}

int sRun(char** command) {
    std::vector<std::string> env = sCommandEnvironment();
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK);
    pid_t pid;
    int err = posix_spawnp(&pid, command[0], nullptr, &attr, command, envp.data());
    posix_spawnattr_destroy(&attr);
    if (err != 0) {
        fprintf(stderr, "quillcore-emulator: cannot run %s: %s\n", command[0], strerror(err));
        return 127;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return 1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int ServeUsb(DeviceModel& model, bool kernelNode, const UsbDeviceOptions& options, char** command,
             const sigset_t& signals) {
    UsbTestbed testbed;
    if (!testbed.ok()) {
        fprintf(stderr, "quillcore-emulator: %s\n", testbed.error().c_str());
        return 1;
    }
    std::unique_ptr<UsbTransport> usb;
    std::unique_ptr<KernelNodeTransport> node;
    std::string error, where;
    bool plugged;
    if (kernelNode) {
        node = std::make_unique<KernelNodeTransport>(testbed, model);
        plugged = node->plug(error);
        where = "node " + node->path();
    } else {
        usb = std::make_unique<UsbTransport>(testbed, model, options);
        plugged = usb->plug(error);
        char text[64];
        snprintf(text, sizeof(text), "usb %03u/%03u serial %s", usb->busNumber(), usb->deviceNumber(),
                 usb->serialString().c_str());
        where = text;
    }
    if (!plugged) {
        fprintf(stderr, "quillcore-emulator: %s\n", error.c_str());
        return 1;
    }
    if (command && command[0]) return sRun(command);
    printf("%s in UMOCKDEV_DIR=%s\n", where.c_str(), testbed.root().c_str());
    fflush(stdout);
    int signal = 0;
    sigwait(&signals, &signal);
    return 0;
}

}  // namespace emulator
