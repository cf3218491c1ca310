#ifndef LOGLINES_H
#define LOGLINES_H

// The launcher's debug lines (category "default", through a message handler)
// and the host platform's calls (through the journal's observer) in the one
// order in which they happened, from any thread. The launcher's lines are
// kept here only, away from standard output, which some tests capture.
// Install after TestMessages, which keeps them logged whatever the rules say.

#include <journal.h>

#include <QStringList>

#include <functional>
#include <mutex>

namespace LogLines {

struct State {
    std::mutex mutex;
    QStringList lines; // any thread, under mutex
    // Set before install(); called for each kept line on the thread that logged
    // it, outside the lock.
    std::function<void(const QString &)> onLine;
    QtMessageHandler previous = nullptr;
};

inline State &state()
{
    static State s;
    return s;
}

inline void keep(const QString &line)
{
    {
        const std::lock_guard<std::mutex> lock(state().mutex);
        state().lines.append(line);
    }
    if (state().onLine)
        state().onLine(line);
}

inline void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && qstrcmp(context.category, "default") == 0)
        keep(message);
    else
        state().previous(type, context, message);
}

inline void install()
{
    state().previous = qInstallMessageHandler(handle);
    HostJournal::setObserver(keep);
}

inline void uninstall()
{
    HostJournal::setObserver(nullptr);
    qInstallMessageHandler(state().previous);
}

inline QStringList lines()
{
    const std::lock_guard<std::mutex> lock(state().mutex);
    return state().lines;
}

inline void clear()
{
    const std::lock_guard<std::mutex> lock(state().mutex);
    state().lines.clear();
}

} // namespace LogLines

#endif // LOGLINES_H
