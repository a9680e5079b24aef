#include "common/Log.h"

#include <cstdarg>

uint32_t Log::package_bitmask = 0;
FILE* Log::fh = nullptr;

void Log::log(uint32_t package, const char* format, ...) {
    if (!fh || !IsActive(package)) return;
    char text[2048];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    fputs(text, fh);
}
