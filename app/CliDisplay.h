/*
 * CliDisplay.h - the console display: messages to the standard streams,
 * progress bar and spinner only when standard output is a terminal.
 */
#pragma once

#include "common/UpdaterDisplay.h"

class CLI_Display : public UpdaterDisplayInterface {
public:
    CLI_Display();

    void display_progress(bool active) override;
    void update_progress(double fraction, char const* label) override;
    void update_spinner(bool active, char const* label) override;
    void info_message(char const* text) override;
    void error_message(char const* text) override;
};
