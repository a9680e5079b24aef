#include "app/CliDisplay.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kBarWidth = 69;
constexpr int kClearWidth = 88;
const char* const kSpinnerFrames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};

bool sIsTerminal() { return isatty(STDOUT_FILENO) == 1; }

void sEraseLine() { printf("\r%*s\r", kClearWidth, " "); }

}  // namespace

CLI_Display::CLI_Display() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::display_progress(bool active) {
    if (!sIsTerminal() || active) return;
    sEraseLine();
}

void CLI_Display::update_progress(double fraction, char const* label) {
    if (!sIsTerminal()) return;
    static const char kBar[] = "=====================================================================";
    int width = kBarWidth;
    if (label) width -= static_cast<int>(strlen(label)) + 4;
    if (width < 1) width = 1;
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    int percent = static_cast<int>(fraction * 100);
    int filled = static_cast<int>(width * fraction);
    if (label) {
        printf("\r (%s) [%.*s>%*s] (%3d%% ) ", label, filled, kBar, width - filled - 1, "", percent);
    } else {
        printf("\r[%.*s>%*s] (%3d%% ) ", filled, kBar, width - filled - 1, "", percent);
    }
}

void CLI_Display::update_spinner(bool active, char const* label) {
    static uint8_t frame = 0;
    if (!sIsTerminal()) return;
    if (!active) {
        sEraseLine();
        return;
    }
    if (label) {
        printf("\r (%s) %s      \r", label, kSpinnerFrames[frame]);
    } else {
        printf("\r %s      \r", kSpinnerFrames[frame]);
    }
    frame = static_cast<uint8_t>((frame + 1) % 8);
}

void CLI_Display::info_message(char const* text) { printf("%s\n", text); }

void CLI_Display::error_message(char const* text) { fprintf(stderr, "%s\n", text); }
