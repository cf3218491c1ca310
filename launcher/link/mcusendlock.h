#ifndef MCUSENDLOCK_H
#define MCUSENDLOCK_H

#include <ctime>
#include <pthread.h>

// The MCU link's send lock: held for the bytes of one frame, waited for at
// most until a deadline on the monotonic clock (the launcher moves the wall
// clock itself). Built on a condition variable rather than
// pthread_mutex_clocklock(), which ThreadSanitizer cannot see. Any thread.
class McuSendLock
{
public:
    McuSendLock();
    ~McuSendLock();
    McuSendLock(const McuSendLock &) = delete;
    McuSendLock &operator=(const McuSendLock &) = delete;

    // False when the lock is still held at the deadline; a deadline already
    // passed still takes a free lock.
    bool lockUntil(const struct timespec &deadline);
    void lock();
    void unlock();

private:
    pthread_mutex_t m_mutex;
    pthread_cond_t m_released;
    bool m_held; // under m_mutex
};

#endif // MCUSENDLOCK_H
