#include "firmware/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>

namespace {

std::string _directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A dot name that cannot contain the target's name: store lookups match
// names by substring and skip dot files, so a temporary file left by a crash
// is never taken for a build.
int _create_temporary(const std::string& directory, std::string& name) {
    static std::atomic<unsigned> counter{0};
    static thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 32; ++attempt) {
        char leaf[64];
        snprintf(leaf, sizeof(leaf), ".qc-tmp-%d-%u-%08x", static_cast<int>(getpid()), counter++,
                 static_cast<unsigned>(random()));
        name = directory + "/" + leaf;
        int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

bool _write_all(int fd, const unsigned char* data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

void _sync_directory(const std::string& directory) {
    int fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);  // best effort: the rename itself already happened
    close(fd);
}

}  // namespace

aErr AtomicFile_Write(const std::string& path, const void* data, size_t length, int* systemError,
                      const AtomicFileCommit& commit) {
    if (systemError) *systemError = 0;
    const std::string directory = _directory_of(path);
    std::string temporary;
    int fd = _create_temporary(directory, temporary);
    if (fd < 0) {
        if (systemError) *systemError = errno;
        return aErrNotFound;
    }
    bool ok = _write_all(fd, static_cast<const unsigned char*>(data), length) && fsync(fd) == 0;
    int error = ok ? 0 : errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && commit && !commit()) {
        unlink(temporary.c_str());
        return aErrCancel;
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        if (systemError) *systemError = error;
        return aErrIO;
    }
    _sync_directory(directory);
    return aErrNone;
}
