/*
 * aFile.h - a validated buffered file handle.
 *
 * Every operation checks the handle's check word first, so a stale or foreign
 * pointer is refused with aErrParam instead of being dereferenced.
 */
#pragma once

#include <cstddef>

#include "common/aDefs.h"

typedef struct aFileRecord* aFileRef;

enum aFileMode : int {
    aFileModeReadOnly = 0,
    aFileModeWriteOnly = 1,
    aFileModeAppend = 2,
};

enum aFileSeekOrigin : int {
    aSeekStart = 0,
    aSeekCurrent = 1,
    aSeekEnd = 2,
};

/* Longest path the file operations accept. */
constexpr size_t aFILE_MAXPATH = 4096;

bool aFile_Exists(const char* path);
aFileRef aFile_Open(const char* path, int mode);
aErr aFile_Close(aFileRef& file);
aErr aFile_Read(aFileRef file, void* buffer, size_t length, size_t* count);
aErr aFile_Write(aFileRef file, const void* data, size_t length, size_t* count);
aErr aFile_ReadLine(aFileRef file, char* buffer, size_t size, size_t* length);
aErr aFile_Seek(aFileRef file, long offset, int origin);
aErr aFile_GetSize(aFileRef file, size_t* size);
aErr aFile_GetPosition(aFileRef file, size_t* position);
aErr aFile_Delete(const char* path);
aErr aFile_SetUnbuffered(aFileRef file);
aErr aFile_Printf(aFileRef file, const char* format, ...) __attribute__((format(printf, 2, 3)));
