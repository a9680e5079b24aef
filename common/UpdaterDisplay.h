/*
 * UpdaterDisplay.h - the sink for user-visible messages, progress bars and
 * spinners that every update operation reports through.
 */
#pragma once

#include <cstdint>

class UpdaterDisplayInterface {
public:
    enum Level { INFO = 0, ERROR = 1 };

    virtual void display_progress(bool active) = 0;
    virtual void update_progress(double fraction, char const* label) = 0;
    virtual void update_spinner(bool active, char const* label) = 0;
    virtual void info_message(char const* text) = 0;
    virtual void error_message(char const* text) = 0;

    /* Formats into 2048 bytes (longer text is cut) and routes by level; any
     * level other than ERROR is information. */
    void message(int level, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void mute_messages(bool mute) { muted = mute; }

protected:
    UpdaterDisplayInterface() = default;
    ~UpdaterDisplayInterface() = default;

private:
    bool muted = false;
};
