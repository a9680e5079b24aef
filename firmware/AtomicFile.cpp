#include "firmware/AtomicFile.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <random>
#include <utility>

namespace {

/* Bytes written before their write-back is started: a multiple of the page
 * size, so the write-back never takes a page that is still being filled. */
constexpr size_t kWritebackSpan = 1 << 20;

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
        int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);  // read too: View maps it
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

AtomicFileWriter::AtomicFileWriter(const std::string& path) : path_(path) {
    fd_ = _create_temporary(_directory_of(path_), temporary_);
    if (fd_ < 0) {
        Fail(aErrNotFound);
        temporary_.clear();
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    Abort();
    Unmap();
}

AtomicFileWriter::AtomicFileWriter(AtomicFileWriter&& other) noexcept
    : path_(std::move(other.path_)),
      temporary_(std::exchange(other.temporary_, std::string())),
      fd_(std::exchange(other.fd_, -1)),
      error_(other.error_),
      systemError_(other.systemError_),
      finished_(std::exchange(other.finished_, true)),
      written_(other.written_),
      queued_(other.queued_),
      view_(std::exchange(other.view_, nullptr)),
      viewLength_(std::exchange(other.viewLength_, 0)) {}

AtomicFileWriter& AtomicFileWriter::operator=(AtomicFileWriter&& other) noexcept {
    if (this != &other) {
        Abort();
        Unmap();
        path_ = std::move(other.path_);
        temporary_ = std::exchange(other.temporary_, std::string());
        fd_ = std::exchange(other.fd_, -1);
        error_ = other.error_;
        systemError_ = other.systemError_;
        finished_ = std::exchange(other.finished_, true);
        written_ = other.written_;
        queued_ = other.queued_;
        view_ = std::exchange(other.view_, nullptr);
        viewLength_ = std::exchange(other.viewLength_, 0);
    }
    return *this;
}

aErr AtomicFileWriter::Fail(aErr error) {
    error_ = error;
    systemError_ = errno;
    return error;
}

void AtomicFileWriter::Discard() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}

aErr AtomicFileWriter::Append(const void* data, size_t length) {
    if (finished_) return aErrMode;
    if (error_ != aErrNone) return error_;
    if (!_write_all(fd_, static_cast<const unsigned char*>(data), length)) return Fail(aErrIO);
    // Start writing back what has piled up, so the sync in Commit finds little left to do.
    written_ += length;
    if (written_ - queued_ >= kWritebackSpan) {
        const size_t whole = (written_ - queued_) / kWritebackSpan * kWritebackSpan;
        sync_file_range(fd_, static_cast<off_t>(queued_), static_cast<off_t>(whole), SYNC_FILE_RANGE_WRITE);
        queued_ += whole;
    }
    return aErrNone;
}

aErr AtomicFileWriter::Commit(const AtomicFileCommit& commit) {
    if (finished_) return aErrMode;
    finished_ = true;
    if (error_ == aErrNone && fsync(fd_) != 0) Fail(aErrIO);
    if (fd_ >= 0 && close(std::exchange(fd_, -1)) != 0 && error_ == aErrNone) Fail(aErrIO);
    if (error_ == aErrNone && commit && !commit()) error_ = aErrCancel;
    if (error_ == aErrNone && rename(temporary_.c_str(), path_.c_str()) != 0) Fail(aErrIO);
    if (error_ != aErrNone) {
        Discard();
        return error_;
    }
    temporary_.clear();
    _sync_directory(_directory_of(path_));
    return aErrNone;
}

void AtomicFileWriter::Abort() {
    if (finished_) return;
    finished_ = true;
    Discard();
    if (error_ == aErrNone) error_ = aErrCancel;
}

std::span<const uint8_t> AtomicFileWriter::View() {
    if (view_ && viewLength_ == written_) return {static_cast<const uint8_t*>(view_), viewLength_};
    Unmap();
    if (fd_ < 0 || written_ == 0) return {};
    void* view = mmap(nullptr, written_, PROT_READ, MAP_SHARED, fd_, 0);
    if (view == MAP_FAILED) return {};
    view_ = view;
    viewLength_ = written_;
    return {static_cast<const uint8_t*>(view_), viewLength_};
}

void AtomicFileWriter::Unmap() {
    if (view_) munmap(view_, viewLength_);
    view_ = nullptr;
    viewLength_ = 0;
}

aErr AtomicFile_Write(const std::string& path, const void* data, size_t length, int* systemError,
                      const AtomicFileCommit& commit) {
    AtomicFileWriter writer(path);
    writer.Append(data, length);
    const aErr err = writer.Commit(commit);
    if (systemError) *systemError = writer.SystemError();
    return err;
}
