#ifndef FAKEWALLCLOCK_H
#define FAKEWALLCLOCK_H

/* The wall clock of a process linked with (or preloaded with) the fake wall
 * clock library. Nothing here reaches the machine's clock. */

#ifdef __cplusplus
extern "C" {
#endif

/* The clock reads SECONDS now and runs on from there. */
void fakeWallClockStartAt(long long seconds);
/* The clock stands at SECONDS and MILLISECONDS until told otherwise. */
void fakeWallClockFreeze(long long seconds, long long milliseconds);
/* The real clock again. */
void fakeWallClockRelease(void);

#ifdef __cplusplus
}
#endif

#endif /* FAKEWALLCLOCK_H */
