#ifndef LAUNCHEREXPORT_H
#define LAUNCHEREXPORT_H

// The launcher is built with hidden visibility; the platform's libraries call
// back into the executable only through what is marked here (-rdynamic).
#define LAUNCHER_EXPORT __attribute__((visibility("default")))
// For members of an exported class that stay inside the executable.
#define LAUNCHER_HIDDEN __attribute__((visibility("hidden")))

#endif // LAUNCHEREXPORT_H
