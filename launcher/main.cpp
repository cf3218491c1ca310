#include "diaglog.h"
#include "mainstart.h"
#include "meventfilter.h"
#include "servicestatus.h"
#include "servicewatchdog.h"
#include "startupcheckpoints.h"

#include <application.h>

#include <QDebug>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#endif

#include <cstdio>
#include <cstdlib>

static int run(int argc, char **argv)
{
    StartupCheckpoints::reach(StartupCheckpoints::MainEntered);
    DiagLog diagLog; // first in, last out: it sees every message of main()
    ServiceStatus::starting();
    Application app(argc, argv);
    StartupCheckpoints::reach(StartupCheckpoints::ApplicationConstructed);
    ServiceWatchdog watchdog;
    qDebug() << "QApplication===>Application\n\n ";
    qDebug() << "\n\n\n ";
    qDebug() << "\t             QT new Launcher start !!";
    qDebug() << "\n";
    qDebug() << "\t app build: " << __DATE__ << "  " << __TIME__;
    qDebug() << "\n\n\n ";

    app.installEventFilter(MEventFilter::GetInstance());
    MainStart mainStart;
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 takes the locale's text as UTF-8 without being told.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
#endif
    mainStart.start();

    const int result = app.exec();
    ServiceStatus::stopping();

    MEventFilter::DeleteInstance();
    return result; // mainStart, app, then diagLog go in that order
}

// The MCU link's reader and dumper and the platform's threads run as long as
// the process and reach into static objects: logging categories, the service
// status, the platform's singletons. exit() would destroy those under them;
// so once main's own objects are gone in their order, the process ends
// without destroying any static object. None holds anything to write back.
//
// LeakSanitizer checks from an atexit handler, which quick_exit skips: in a
// sanitizer build, whose runtime defines the check, it runs here instead and
// a leak ends the process with the sanitizer's failure.
extern "C" __attribute__((weak)) void __lsan_do_leak_check();

int main(int argc, char **argv)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 asks the sound server for a longer stream buffer than Qt 5 did,
    // and every beep waits behind it: about 23 ms from key to sound, against
    // Qt 5's 2. libpulse reads PULSE_LATENCY_MSEC as each stream connects;
    // a value in the service's environment wins. Set before any thread
    // runs, since setenv is not safe beside another thread's getenv.
    setenv("PULSE_LATENCY_MSEC", "5", 0);
#endif
    const int result = run(argc, argv);
    std::fflush(nullptr);
    if (__lsan_do_leak_check)
        __lsan_do_leak_check();
    std::quick_exit(result);
}
