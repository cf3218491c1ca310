#include "journal.h"

#include <QLoggingCategory>
#include <QVariant>

#include <atomic>
#include <deque>
#include <mutex>

namespace {

// Leaked on purpose, like everything below: the MCU reader thread is never
// stopped and may still call the platform while static objects are destroyed
// at exit.
const QLoggingCategory &lcPlatform()
{
    static const auto *category = new QLoggingCategory("headunit.platform");
    return *category;
}

// A launcher runs for days; the journal keeps the newest lines only. This is
// all the memory MCU input can make the process hold: the longest line a frame
// produces (a whole CAN record in hex) is 583 characters, a 1200-byte block, so
// the journal stays under 24.2 MB however hostile the input (bench_mcu_soak).
const int JournalCapacity = 20000;

// The reader, dumper, signal and main threads record at once. A std::mutex,
// not a QMutex: QMutex locks inside Qt's library, where ThreadSanitizer cannot
// see it, and each line would be reported as a race.
struct Journal {
    std::mutex mutex;
    std::deque<QString> lines; // any thread, under mutex
};

Journal &journal()
{
    static auto *instance = new Journal;
    return *instance;
}

std::atomic<HostJournal::Observer> g_observer{nullptr};

} // namespace

namespace HostJournal {

void record(const QString &line)
{
    {
        const std::lock_guard<std::mutex> lock(journal().mutex);
        journal().lines.push_back(line);
        if (journal().lines.size() > size_t(JournalCapacity))
            journal().lines.pop_front();
    }
    // Logged and observed outside the lock: either may call back into us.
    qCDebug(lcPlatform).noquote() << line;
    if (const Observer observer = g_observer.load())
        observer(line);
}

void setObserver(Observer observer)
{
    g_observer.store(observer);
}

QStringList lines()
{
    const std::lock_guard<std::mutex> lock(journal().mutex);
    QStringList copy;
    copy.reserve(int(journal().lines.size()));
    for (const QString &line : journal().lines)
        copy.append(line);
    return copy;
}

void clear()
{
    const std::lock_guard<std::mutex> lock(journal().mutex);
    journal().lines.clear();
}

QString arg(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString arg(const QString &value)
{
    return QLatin1Char('"') + value + QLatin1Char('"');
}

QString arg(const QVariant &value)
{
    if (!value.isValid())
        return QStringLiteral("invalid");
    switch (value.userType()) {
    case QMetaType::Bool:
        return arg(value.toBool());
    case QMetaType::QString:
        return arg(value.toString());
    case QMetaType::QStringList: {
        QStringList items;
        for (const QString &item : value.toStringList())
            items.append(arg(item));
        return QLatin1Char('(') + items.join(QLatin1String(", ")) + QLatin1Char(')');
    }
    default:
        return value.toString();
    }
}

QString hex(const unsigned char *bytes, int count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), count).toHex());
}

} // namespace HostJournal
