#include "common/aMutex.h"

#include <pthread.h>

#include <cerrno>
#include <cstring>
#include <new>

struct aMutexRecord {
    pthread_mutex_t mutex;
    char name[aMUTEX_MAXNAME + 1];
};

aMutexRef aMutex_Create(const char* name) {
    size_t len = name ? strnlen(name, aMUTEX_MAXNAME + 1) : 0;
    if (len > aMUTEX_MAXNAME) return nullptr;
    auto* m = new (std::nothrow) aMutexRecord;
    if (!m) return nullptr;
    memcpy(m->name, name ? name : "", len);
    m->name[len] = '\0';
    if (pthread_mutex_init(&m->mutex, nullptr) != 0) {
        delete m;
        return nullptr;
    }
    return m;
}

const char* aMutex_Identifier(aMutexRef mutex) { return mutex ? mutex->name : nullptr; }

aErr aMutex_Destroy(aMutexRef& mutex) {
    aMutexRef m = mutex;
    mutex = nullptr;
    if (!m) return aErrParam;
    int rc = pthread_mutex_destroy(&m->mutex);
    delete m;
    switch (rc) {
        case 0: return aErrNone;
        case EBUSY: return aErrBusy;
        case EINVAL: return aErrParam;
        case ENOMEM:
        case EAGAIN: return aErrResource;
        default: return aErrUnknown;
    }
}

aErr aMutex_Lock(aMutexRef mutex) {
    if (!mutex) return aErrParam;
    switch (pthread_mutex_lock(&mutex->mutex)) {
        case 0: return aErrNone;
        case EINVAL: return aErrParam;
        case EDEADLK: return aErrDuplicate;
        default: return aErrUnknown;
    }
}

aErr aMutex_TryLock(aMutexRef mutex) {
    if (!mutex) return aErrParam;
    switch (pthread_mutex_trylock(&mutex->mutex)) {
        case 0: return aErrNone;
        case EBUSY: return aErrBusy;
        case EINVAL: return aErrParam;
        default: return aErrUnknown;
    }
}

aErr aMutex_Unlock(aMutexRef mutex) {
    if (!mutex) return aErrParam;
    switch (pthread_mutex_unlock(&mutex->mutex)) {
        case 0: return aErrNone;
        case EINVAL: return aErrParam;
        case EPERM: return aErrPermission;
        default: return aErrUnknown;
    }
}
