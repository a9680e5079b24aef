/*
 * AtomicFile.h - replaces a file as a whole or not at all.
 *
 * The bytes go to a fresh file in the target's own directory, which is
 * flushed and synced and only then renamed over the target, so a crash, a
 * full disk or a refused write never leaves a truncated file behind.
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "common/aDefs.h"

/* Asked once the bytes are safely on disk, just before they replace the
 * target; false keeps the target as it is. Lets a caller check the bytes
 * while they are being written. */
using AtomicFileCommit = std::function<bool()>;

/* A file written piece by piece and then put in place at once: the pieces
 * go to a temporary file beside the target (a dot name, so store listings
 * skip it); Commit syncs it and renames it over the target, Abort - or
 * destruction without Commit - removes it. The target is untouched until
 * Commit succeeds. */
class AtomicFileWriter {
public:
    /* Creates the temporary file at once; a failure shows in Error(). */
    explicit AtomicFileWriter(const std::string& path);
    ~AtomicFileWriter();
    AtomicFileWriter(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter& operator=(AtomicFileWriter&& other) noexcept;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    /* Appends the bytes. Returns Error(): after the first failure nothing
     * more is written; aErrMode once the writer is finished. */
    aErr Append(const void* data, size_t length);
    /* Syncs and closes the temporary file, asks commit (when given), renames
     * the file over the target and syncs the directory. aErrNone on success;
     * aErrNotFound when the temporary file could not be created, aErrIO when
     * writing, syncing or renaming failed, aErrCancel when commit said no,
     * aErrMode when the writer was already finished. Afterwards no temporary
     * file is left, whatever the result. */
    aErr Commit(const AtomicFileCommit& commit = nullptr);
    /* Removes the temporary file; the target stays as it was. Error() is
     * then aErrCancel unless something had failed before. */
    void Abort();

    /* The bytes appended so far, read back through a read-only mapping of
     * the temporary file: the pages the writes filled, without a copy. Ask
     * before Commit; the view stays valid until the writer is destroyed.
     * Empty when nothing was written or the file cannot be mapped. */
    std::span<const uint8_t> View();

    /* The first failure so far, aErrNone while all went well. */
    aErr Error() const { return error_; }
    /* errno of the failing step, 0 when none failed. */
    int SystemError() const { return systemError_; }
    const std::string& Path() const { return path_; }
    /* Where the bytes go until Commit; empty once the writer is finished. */
    const std::string& TemporaryPath() const { return temporary_; }

private:
    aErr Fail(aErr error);
    void Discard();
    void Unmap();

    std::string path_;
    std::string temporary_;
    int fd_ = -1;
    aErr error_ = aErrNone;
    int systemError_ = 0;
    bool finished_ = false;  // committed or aborted
    size_t written_ = 0;     // bytes appended
    size_t queued_ = 0;      // bytes whose write-back was started
    void* view_ = nullptr;   // the mapping View handed out
    size_t viewLength_ = 0;
};

/* Writes the whole file at once with an AtomicFileWriter: aErrNone on
 * success; aErrNotFound when the temporary file cannot be created, aErrIO
 * when writing, syncing or renaming it fails, aErrCancel when commit said no.
 * The target is untouched on failure. systemError (optional) receives errno
 * of the failing step, 0 on success. */
aErr AtomicFile_Write(const std::string& path, const void* data, size_t length, int* systemError = nullptr,
                      const AtomicFileCommit& commit = nullptr);
