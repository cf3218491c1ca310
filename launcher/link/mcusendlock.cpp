#include "mcusendlock.h"

#include <cerrno>

McuSendLock::McuSendLock()
    : m_held(false)
{
    pthread_mutex_init(&m_mutex, nullptr);
    pthread_condattr_t attr;
    pthread_condattr_init(&attr);
    pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
    pthread_cond_init(&m_released, &attr);
    pthread_condattr_destroy(&attr);
}

McuSendLock::~McuSendLock()
{
    pthread_cond_destroy(&m_released);
    pthread_mutex_destroy(&m_mutex);
}

bool McuSendLock::lockUntil(const struct timespec &deadline)
{
    pthread_mutex_lock(&m_mutex);
    int r = 0;
    while (m_held && r != ETIMEDOUT)
        r = pthread_cond_timedwait(&m_released, &m_mutex, &deadline);
    const bool taken = !m_held;
    if (taken)
        m_held = true;
    pthread_mutex_unlock(&m_mutex);
    return taken;
}

void McuSendLock::lock()
{
    pthread_mutex_lock(&m_mutex);
    while (m_held)
        pthread_cond_wait(&m_released, &m_mutex);
    m_held = true;
    pthread_mutex_unlock(&m_mutex);
}

void McuSendLock::unlock()
{
    pthread_mutex_lock(&m_mutex);
    m_held = false;
    pthread_mutex_unlock(&m_mutex);
    pthread_cond_signal(&m_released);
}
