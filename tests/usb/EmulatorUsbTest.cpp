/*
 * The emulator program serving USB: a separate program, started as its
 * command, finds the emulated device through its own libusb and talks to it.
 */
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace {

/* Runs the program and returns its standard output; status gets the exit status. */
std::string RunProgram(std::vector<std::string> args, int* status) {
    int out[2];
    if (pipe(out) != 0) return "";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid;
    int err = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t n;
    while (err == 0 && (n = read(out[0], buffer, sizeof(buffer))) > 0)
        text.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    *status = -1;
    if (err == 0) waitpid(pid, status, 0);
    return text;
}

const std::string kEmulator = QC_BUILD_DIR "/quillcore-emulator";
const std::string kProbe = QC_BUILD_DIR "/tests/usb_probe";

TEST(EmulatorUsbProgram, ACommandFindsTheEmulatedUsbDeviceAndTalksToIt) {
    int status;
    std::string out = RunProgram(
        {kEmulator, "-t", "usb", "-s", "0x1234ABCD", "-m", "13", "-b", "77", "--", kProbe, "1234ABCD"},
        &status);
    EXPECT_EQ(out, "found 1234ABCD model 13\nbuild 77\n");
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(EmulatorUsbProgram, ACommandReachesTheKernelNodeAndItsStatusIsReturned) {
    int status;
    std::string out = RunProgram(
        {kEmulator, "-t", "node", "-s", "0x1234ABCD", "-b", "78", "--", kProbe, "1234ABCD"}, &status);
    EXPECT_EQ(out, "build 78\n");  // a node is not a USB device: discovery does not list it
    EXPECT_EQ(WEXITSTATUS(status), 0);
    RunProgram({kEmulator, "-t", "usb", "-s", "0x1234ABCD", "--", kProbe, "1234ABCE"}, &status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    RunProgram({kEmulator, "-t", "bluetooth"}, &status);
    EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
