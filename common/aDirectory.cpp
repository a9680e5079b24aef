#include "common/aDirectory.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool sMakeOne(const std::string& path, unsigned int mode) {
    if (mkdir(path.c_str(), static_cast<mode_t>(mode)) == 0) return true;
    // Another process may have made it between our test and mkdir.
    return errno == EEXIST && aDirectory_Exists(path.c_str());
}

aErr sBuildPathV(char* buffer, size_t size, va_list args) {
    if (!buffer || size == 0) return aErrParam;
    std::string out;
    int count = 0;
    for (const char* part = va_arg(args, const char*); part; part = va_arg(args, const char*)) {
        if (part == buffer || ++count > aDIRECTORY_MAXCOMPONENTS) return aErrParam;
        if (!out.empty() && out.back() != '/' && part[0] != '/') out += aDIR_PATH_SEP;
        out += part;
    }
    if (out.size() + 1 > size) return aErrOverrun;
    memcpy(buffer, out.c_str(), out.size() + 1);
    return aErrNone;
}

aErr sRemoveTree(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        DIR* dir = opendir(path.c_str());
        if (dir) {
            aErr err = aErrNone;
            while (struct dirent* entry = readdir(dir)) {
                if (!strcmp(entry->d_name, ".") || !strcmp(entry->d_name, "..")) continue;
                err = sRemoveTree(path + aDIR_PATH_SEP + entry->d_name);
                if (err != aErrNone) break;
            }
            closedir(dir);
            if (err != aErrNone) return err;
        }
        if (rmdir(path.c_str()) == 0) return aErrNone;
    } else if (unlink(path.c_str()) == 0) {
        return aErrNone;
    }
    perror("aDirectory_DeleteTree");
    printf("---error unlink-ing file [%s]\n", path.c_str());
    return aErrUnknown;
}

}  // namespace

bool aDirectory_Exists(const char* path) {
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

aErr aDirectory_Ensure(const char* path, unsigned int mode) {
    if (!path || !path[0]) return aErrParam;
    if (aDirectory_Exists(path)) return aErrNone;
    std::string copy(path);

    // Walk back to the deepest prefix that already exists.
    size_t start = 0;
    for (size_t cut = copy.rfind('/'); cut != std::string::npos && cut > 0; cut = copy.rfind('/', cut - 1)) {
        if (aDirectory_Exists(copy.substr(0, cut).c_str())) {
            start = cut + 1;
            break;
        }
    }

    // Then forward, making each missing component.
    for (size_t sep = copy.find('/', start); sep != std::string::npos; sep = copy.find('/', sep + 1)) {
        if (sep == 0 || copy[sep - 1] == '/') continue;
        std::string prefix = copy.substr(0, sep);
        if (!aDirectory_Exists(prefix.c_str()) && !sMakeOne(prefix, mode)) return aErrPermission;
    }
    if (!aDirectory_Exists(path) && !sMakeOne(copy, mode)) return aErrPermission;
    return aErrNone;
}

aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* ref) {
    if (!path || !callback) return aErrParam;
    DIR* dir = opendir(path);
    if (!dir) return aErrNotFound;
    char full[aDIRECTORY_MAXPATH];
    while (struct dirent* entry = readdir(dir)) {
        if (aDirectory_JoinPath(full, sizeof(full), path, entry->d_name) != aErrNone) continue;
        struct stat st;
        if (stat(full, &st) != 0) continue;
        aDirectoryListData data{full, static_cast<size_t>(st.st_size), S_ISDIR(st.st_mode)};
        if (!callback(&data, ref)) break;
    }
    closedir(dir);
    return aErrNone;
}

aErr aDirectory_Delete(const char* path) { return (path && rmdir(path) == 0) ? aErrNone : aErrUnknown; }

aErr aDirectory_DeleteTree(const char* path) {
    if (!path || !path[0]) return aErrParam;
    return sRemoveTree(path);
}

aErr aDirectory_CWD(char* buffer, size_t size) {
    return (buffer && size && getcwd(buffer, size)) ? aErrNone : aErrParam;
}

aErr aDirectory_ExecutableFilePath(char* buffer, size_t size) {
    if (!buffer || size == 0) return aErrRead;
    ssize_t n = readlink("/proc/self/exe", buffer, size - 1);
    if (n < 0) return aErrRead;
    buffer[n] = '\0';
    return aErrNone;
}

aErr aDirectory_GetHomeDirectory(char* buffer, size_t size) {
    if (!buffer || size == 0) return aErrNone;
    const char* home = nullptr;
    struct passwd pw;
    struct passwd* found = nullptr;
    char scratch[4096];
    if (getpwuid_r(getuid(), &pw, scratch, sizeof(scratch), &found) == 0 && found && found->pw_dir &&
        found->pw_dir[0]) {
        home = found->pw_dir;
    } else {
        home = getenv("HOME");
    }
    buffer[0] = '\0';
    if (home) {
        strncpy(buffer, home, size);
        buffer[size - 1] = '\0';
    }
    return aErrNone;
}

aErr aDirectory_JoinPath(char* buffer, size_t size, const char* directory, const char* name) {
    return aDirectory_BuildPath(buffer, size, directory, name, nullptr);
}

aErr aDirectory_BuildPath(char* buffer, size_t size, ...) {
    va_list args;
    va_start(args, size);
    aErr err = sBuildPathV(buffer, size, args);
    va_end(args);
    return err;
}
