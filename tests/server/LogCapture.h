/*
 * LogCapture.h - collects the server package's debug log lines in memory
 * while alive.
 */
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/Log.h"

class LogCapture {
public:
    LogCapture() : stream_(open_memstream(&text_, &size_)) {
        Log::SetOutput(stream_);
        Log::ActivatePackage(DEBUG_ServerComm);
    }
    ~LogCapture() {
        Log::DeactivatePackage(DEBUG_ServerComm);
        Log::SetOutput(nullptr);
        fclose(stream_);
        free(text_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string text() {
        fflush(stream_);
        return std::string(text_, size_);
    }

private:
    char* text_ = nullptr;
    size_t size_ = 0;
    FILE* stream_;
};
