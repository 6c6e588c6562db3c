// Mutex operations of the OS layer.
#include "osa.h"

static const char OSA_UNIT[] = "osa_mutex";

int OSA_mutexCreate(pthread_mutex_t *mutex)
{
    pthread_mutexattr_t attr;
    int status = pthread_mutexattr_init(&attr);
    status |= pthread_mutex_init(mutex, &attr);
    if (status != 0)
        OSA_ERROR("OSA_mutexCreate() = %d \r\n", status);
    pthread_mutexattr_destroy(&attr);
    return status;
}

int OSA_mutexDelete(pthread_mutex_t *mutex)
{
    pthread_mutex_destroy(mutex);
    return 0;
}

int OSA_mutexLock(pthread_mutex_t *mutex) { return pthread_mutex_lock(mutex); }

int OSA_mutexUnlock(pthread_mutex_t *mutex) { return pthread_mutex_unlock(mutex); }
