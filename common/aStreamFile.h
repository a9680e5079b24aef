/*
 * aStreamFile.h - streams over files: an input stream (get) and an output
 * stream (put and write) that truncates.
 */
#pragma once

#include "common/aStream.h"

aErr aStream_CreateFileInput(const char* path, aStreamRef* stream);
aErr aStream_CreateFileOutput(const char* path, aStreamRef* stream);
