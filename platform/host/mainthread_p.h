#ifndef MAINTHREAD_P_H
#define MAINTHREAD_P_H

// What the platform's own threads ask of the application's main thread: the
// beep request of an MCU key (the MCU reader thread) and leaving the event
// loop (the signal thread).
//
// Only the main thread touches Qt objects. Another thread notes its request
// under a lock and wakes the main thread through an eventfd, whose notifier
// there sends the key event and quits; a request that comes while the same
// one waits joins it. No thread posts into an application
// that main() is destroying: Qt 5's postEvent reads the application object
// and wakes its event dispatcher without a guard against that. And the hand-
// over is a std::mutex and a descriptor, which ThreadSanitizer follows.
//
// Requests are taken from the construction of a QCoreApplication until its
// event loop is left (aboutToQuit), or without one until it is destroyed.
namespace HostMainThread {

// False when no application takes requests: none exists yet, or its event
// loop was left. Any thread.
bool requestBeep();
bool requestQuit();

} // namespace HostMainThread

#endif // MAINTHREAD_P_H
