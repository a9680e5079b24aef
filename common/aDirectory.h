/*
 * aDirectory.h - directory operations and path building.
 */
#pragma once

#include <cstddef>

#include "common/aDefs.h"

#define aDIR_PATH_SEP "/"

/* Longest path a directory listing builds for an entry. */
constexpr size_t aDIRECTORY_MAXPATH = 2048;

/* Most components aDirectory_BuildPath joins. */
constexpr int aDIRECTORY_MAXCOMPONENTS = 10;

struct aDirectoryListData {
    const char* path;
    size_t size;
    bool isDirectory;
};

/* Return false to end the listing. */
typedef bool (*aDirectoryListProc)(const aDirectoryListData* data, void* ref);

bool aDirectory_Exists(const char* path);
aErr aDirectory_Ensure(const char* path, unsigned int mode);
aErr aDirectory_List(const char* path, aDirectoryListProc callback, void* ref);
aErr aDirectory_Delete(const char* path);
aErr aDirectory_DeleteTree(const char* path);
aErr aDirectory_CWD(char* buffer, size_t size);
aErr aDirectory_ExecutableFilePath(char* buffer, size_t size);
aErr aDirectory_GetHomeDirectory(char* buffer, size_t size);
aErr aDirectory_JoinPath(char* buffer, size_t size, const char* directory, const char* name);

/* Joins the components up to the nullptr end marker. */
aErr aDirectory_BuildPath(char* buffer, size_t size, ...);
