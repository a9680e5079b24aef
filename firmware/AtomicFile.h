/*
 * AtomicFile.h - replaces a file as a whole or not at all.
 *
 * The bytes go to a fresh file in the target's own directory, which is
 * flushed and synced and only then renamed over the target, so a crash, a
 * full disk or a refused write never leaves a truncated file behind.
 */
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "common/aDefs.h"

/* Asked once the bytes are safely on disk, just before they replace the
 * target; false keeps the target as it is. Lets a caller check the bytes
 * while they are being written. */
using AtomicFileCommit = std::function<bool()>;

/* aErrNone on success; aErrNotFound when the temporary file cannot be
 * created, aErrIO when writing, syncing or renaming it fails, aErrCancel when
 * commit said no. The target is untouched on failure. systemError (optional)
 * receives errno of the failing step, 0 on success. */
aErr AtomicFile_Write(const std::string& path, const void* data, size_t length, int* systemError = nullptr,
                      const AtomicFileCommit& commit = nullptr);
