#include "common/aFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr uint16_t kFileCheck = 0xFEED;

}  // namespace

struct aFileRecord {
    uint16_t check;
    int mode;
    FILE* fp;
};

namespace {

bool sValid(aFileRef file) { return file && file->check == kFileCheck; }
bool sCanRead(aFileRef file) { return file->mode == aFileModeReadOnly || file->mode == aFileModeAppend; }
bool sCanWrite(aFileRef file) { return file->mode == aFileModeWriteOnly || file->mode == aFileModeAppend; }

bool sPathUsable(const char* path) {
    return path && path[0] && strnlen(path, aFILE_MAXPATH + 1) <= aFILE_MAXPATH;
}

const char* sOpenFlags(int mode) {
    switch (mode) {
        case aFileModeReadOnly: return "rb";
        case aFileModeWriteOnly: return "wb";
        case aFileModeAppend: return "ab+";
        default: return nullptr;
    }
}

}  // namespace

bool aFile_Exists(const char* path) {
    if (!sPathUsable(path)) return false;
    struct stat st;
    if (stat(path, &st) != 0) return false;
    return !S_ISDIR(st.st_mode);
}

aFileRef aFile_Open(const char* path, int mode) {
    const char* flags = sOpenFlags(mode);
    if (!sPathUsable(path) || !flags) return nullptr;
    auto* file = new (std::nothrow) aFileRecord{kFileCheck, mode, nullptr};
    if (!file) return nullptr;
    file->fp = fopen(path, flags);
    if (!file->fp) {
        // The cause (aErrPermission, aErrBusy, aErrIO or aErrNotFound) is not
        // reported: callers only see that no handle came back.
        file->check = 0;
        delete file;
        return nullptr;
    }
    if (mode == aFileModeAppend) fseek(file->fp, 0, SEEK_END);
    return file;
}

aErr aFile_Close(aFileRef& file) {
    aFileRef f = file;
    file = nullptr;
    if (!sValid(f)) return aErrParam;
    int rc = fclose(f->fp);
    f->check = 0;
    delete f;
    return rc == 0 ? aErrNone : aErrIO;
}

aErr aFile_Read(aFileRef file, void* buffer, size_t length, size_t* count) {
    if (!sValid(file) || (!buffer && length)) return aErrParam;
    if (!sCanRead(file)) return aErrMode;
    size_t n = length ? fread(buffer, 1, length, file->fp) : 0;
    if (count) *count = n;
    return (length && n == 0) ? aErrEOF : aErrNone;
}

aErr aFile_Write(aFileRef file, const void* data, size_t length, size_t* count) {
    if (!sValid(file) || (!data && length)) return aErrParam;
    if (!sCanWrite(file)) return aErrMode;
    size_t n = length ? fwrite(data, 1, length, file->fp) : 0;
    if (count) *count = n;
    return (length && n == 0) ? aErrIO : aErrNone;
}

aErr aFile_ReadLine(aFileRef file, char* buffer, size_t size, size_t* length) {
    if (length) *length = 0;
    if (buffer && size) buffer[0] = '\0';
    if (!sValid(file) || !buffer || size < 2) return aErrParam;
    if (!sCanRead(file)) return aErrMode;
    if (!fgets(buffer, static_cast<int>(size), file->fp)) {
        buffer[0] = '\0';
        return feof(file->fp) ? aErrEOF : aErrIO;
    }
    size_t len = strlen(buffer);
    if (length) *length = len;
    if (len == size - 1 && buffer[len - 1] != '\n') return aErrOverrun;
    return aErrNone;
}

aErr aFile_GetSize(aFileRef file, size_t* size) {
    if (!sValid(file) || !size) return aErrParam;
    long here = ftell(file->fp);
    if (here < 0 || fseek(file->fp, 0, SEEK_END) != 0) return aErrIO;
    long end = ftell(file->fp);
    *size = end < 0 ? 0 : static_cast<size_t>(end);
    if (fseek(file->fp, here, SEEK_SET) != 0 || end < 0) return aErrIO;
    return aErrNone;
}

aErr aFile_Seek(aFileRef file, long offset, int origin) {
    if (!sValid(file)) return aErrParam;
    long here = ftell(file->fp);
    size_t size = 0;
    if (here < 0 || aFile_GetSize(file, &size) != aErrNone) return aErrIO;
    long base;
    switch (origin) {
        case aSeekStart: base = 0; break;
        case aSeekCurrent: base = here; break;
        case aSeekEnd: base = static_cast<long>(size); break;
        default: return aErrParam;
    }
    long target = base + offset;
    if (target < 0 || target > static_cast<long>(size)) return aErrRange;
    if (fseek(file->fp, target, SEEK_SET) != 0) return aErrIO;
    return ftell(file->fp) < 0 ? aErrIO : aErrNone;
}

aErr aFile_GetPosition(aFileRef file, size_t* position) {
    if (!sValid(file) || !position) return aErrParam;
    long here = ftell(file->fp);
    if (here < 0) return aErrIO;
    if (here > 0) *position = static_cast<size_t>(here);
    return aErrNone;
}

aErr aFile_Delete(const char* path) {
    if (!path) return aErrParam;
    if (strnlen(path, aFILE_MAXPATH + 1) > aFILE_MAXPATH) return aErrFileNameLength;
    if (remove(path) == 0) return aErrNone;
    switch (errno) {
        case ENOENT: return aErrNotFound;
        case EACCES:
        case EPERM: return aErrPermission;
        default: return aErrIO;
    }
}

aErr aFile_SetUnbuffered(aFileRef file) {
    if (!sValid(file)) return aErrParam;
    if (!sCanWrite(file)) return aErrMode;
    return setvbuf(file->fp, nullptr, _IONBF, 0) == 0 ? aErrNone : aErrMode;
}

aErr aFile_Printf(aFileRef file, const char* format, ...) {
    if (!sValid(file) || !format) return aErrParam;
    if (!sCanWrite(file)) return aErrMode;
    va_list args;
    va_start(args, format);
    int rc = vfprintf(file->fp, format, args);
    va_end(args);
    return rc < 0 ? aErrIO : aErrNone;
}
