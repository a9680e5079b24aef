#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "app/CliDisplay.h"

namespace {

/* Runs the drawing in a child whose standard output is a terminal (or a pipe)
 * and returns everything it wrote there. */
std::string sDrawOn(bool terminal, const std::function<void(CLI_Display&)>& draw) {
    int master = -1, pipeFds[2] = {-1, -1};
    pid_t pid;
    if (terminal) {
        struct termios raw;
        cfmakeraw(&raw);
        pid = forkpty(&master, nullptr, &raw, nullptr);
    } else {
        if (pipe(pipeFds) != 0) return "pipe failed";
        pid = fork();
    }
    if (pid == 0) {
        if (!terminal) dup2(pipeFds[1], STDOUT_FILENO);
        CLI_Display display;
        draw(display);
        _exit(0);
    }
    int fd = terminal ? master : pipeFds[0];
    if (!terminal) close(pipeFds[1]);
    std::string out;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof(buf))) > 0;) out.append(buf, static_cast<size_t>(n));
    close(fd);
    waitpid(pid, nullptr, 0);
    return out;
}

}  // namespace

TEST(CliDisplay, ProgressBarOnATerminal) {
    std::string half = sDrawOn(true, [](CLI_Display& d) { d.update_progress(0.5, nullptr); });
    EXPECT_EQ(half, "\r[" + std::string(34, '=') + ">" + std::string(34, ' ') + "] ( 50% ) ");
    std::string full = sDrawOn(true, [](CLI_Display& d) { d.update_progress(1.0, nullptr); });
    EXPECT_EQ(full, "\r[" + std::string(69, '=') + "> ] (100% ) ");
    std::string labelled = sDrawOn(true, [](CLI_Display& d) { d.update_progress(0.0, "abc"); });
    EXPECT_EQ(labelled, "\r (abc) [>" + std::string(61, ' ') + "] (  0% ) ");
}

TEST(CliDisplay, SpinnerCyclesAndErases) {
    std::string out = sDrawOn(true, [](CLI_Display& d) {
        for (int i = 0; i < 9; ++i) d.update_spinner(true, i == 0 ? "Downloading" : nullptr);
        d.update_spinner(false, nullptr);
        d.display_progress(true);
        d.display_progress(false);
    });
    std::string erase = "\r" + std::string(88, ' ') + "\r";
    std::string expected = "\r (Downloading) .      \r";
    for (const char* frame : {"..", "...", "....", ".....", "....", "...", "..", "."}) {
        expected += std::string("\r ") + frame + "      \r";
    }
    EXPECT_EQ(out, expected + erase + erase);
}

TEST(CliDisplay, NothingDrawnWhenRedirected) {
    std::string out = sDrawOn(false, [](CLI_Display& d) {
        d.update_progress(0.5, nullptr);
        d.update_spinner(true, "Downloading");
        d.update_spinner(false, nullptr);
        d.display_progress(false);
        d.message(UpdaterDisplayInterface::INFO, "only %s", "this");
    });
    EXPECT_EQ(out, "only this\n");
}

TEST(CliDisplay, MessagesGoToTheirStreamsWithANewline) {
    std::string out = sDrawOn(false, [](CLI_Display& d) {
        d.message(UpdaterDisplayInterface::ERROR, "to stderr");
        d.message(UpdaterDisplayInterface::INFO, "ends in newline\n");
        d.message(UpdaterDisplayInterface::INFO, "%s", std::string(3000, 'z').c_str());
    });
    EXPECT_EQ(out, "ends in newline\n\n" + std::string(2047, 'z') + "\n");
}
