#include "common/aStreamFile.h"

#include "common/aFile.h"

namespace {

aErr sFileGet(uint8_t* byte, void* ref) {
    size_t count = 0;
    return aFile_Read(static_cast<aFileRef>(ref), byte, 1, &count);
}

aErr sFileWrite(const uint8_t* bytes, size_t count, void* ref) {
    size_t written = 0;
    aErr err = aFile_Write(static_cast<aFileRef>(ref), bytes, count, &written);
    return err == aErrNone && written != count ? aErrWrite : err;
}

aErr sFilePut(uint8_t byte, void* ref) { return sFileWrite(&byte, 1, ref); }

aErr sFileDelete(void* ref) {
    auto file = static_cast<aFileRef>(ref);
    return aFile_Close(file);
}

aErr sCreate(const char* path, int mode, aStreamRef* stream) {
    if (!stream) return aErrResource;
    *stream = nullptr;
    aFileRef file = aFile_Open(path, mode);
    if (!file) return aErrResource;
    bool input = mode == aFileModeReadOnly;
    *stream = aStream_Create(input ? sFileGet : nullptr, input ? nullptr : sFilePut,
                             input ? nullptr : sFileWrite, sFileDelete, file);
    if (!*stream) {
        aFile_Close(file);
        return aErrResource;
    }
    return aErrNone;
}

}  // namespace

aErr aStream_CreateFileInput(const char* path, aStreamRef* stream) {
    return sCreate(path, aFileModeReadOnly, stream);
}

aErr aStream_CreateFileOutput(const char* path, aStreamRef* stream) {
    return sCreate(path, aFileModeWriteOnly, stream);
}
