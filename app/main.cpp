#include "app/CliDisplay.h"

int main() {
    CLI_Display display;
    display.message(UpdaterDisplayInterface::INFO, "Updater");
    return 0;
}
