#ifndef LOGLINES_H
#define LOGLINES_H

// The launcher's debug lines (category "default") and the host platform's calls
// (category "platform", one line per journal entry) in the one order in which
// they happened, from any thread. Those are kept here only, away from standard
// output, which some tests capture; everything else goes on to the previous handler.

#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include <functional>

namespace LogLines {

struct State {
    QMutex mutex;
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

inline void handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const bool kept = type == QtDebugMsg
        && (qstrcmp(context.category, "platform") == 0 || qstrcmp(context.category, "default") == 0);
    if (!kept) {
        if (state().previous)
            state().previous(type, context, message);
        return;
    }
    {
        QMutexLocker lock(&state().mutex);
        state().lines.append(message);
    }
    if (state().onLine)
        state().onLine(message);
}

inline void install()
{
    QLoggingCategory::setFilterRules(QStringLiteral("platform.debug=true"));
    state().previous = qInstallMessageHandler(handle);
}

inline void uninstall()
{
    qInstallMessageHandler(state().previous);
}

inline QStringList lines()
{
    QMutexLocker lock(&state().mutex);
    return state().lines;
}

inline void clear()
{
    QMutexLocker lock(&state().mutex);
    state().lines.clear();
}

} // namespace LogLines

#endif // LOGLINES_H
