#include "common/aThread.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <new>

struct aThreadRecord {
    pthread_t thread;
};

aThreadRef aThread_Create(aThreadProc entry, void* arg) {
    if (!entry) return nullptr;
    auto* t = new (std::nothrow) aThreadRecord;
    if (!t) return nullptr;
    if (pthread_create(&t->thread, nullptr, entry, arg) != 0) {
        delete t;
        return nullptr;
    }
    return t;
}

int aThread_Destroy(aThreadRef& thread) {
    aThreadRef t = thread;
    thread = nullptr;
    if (!t) return EINVAL;
    int rc = pthread_join(t->thread, nullptr);
    delete t;
    return rc;
}

void aThread_Yield() { usleep(5); }
