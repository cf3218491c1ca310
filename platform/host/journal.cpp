#include "journal.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QVariant>

Q_LOGGING_CATEGORY(lcPlatform, "platform")

namespace {

struct Journal {
    QMutex mutex;
    QStringList lines; // any thread, under mutex
};

Journal &journal()
{
    static Journal instance;
    return instance;
}

} // namespace

namespace HostJournal {

void record(const QString &line)
{
    {
        QMutexLocker lock(&journal().mutex);
        journal().lines.append(line);
    }
    // Logged outside the lock: a message handler may call back into us.
    qCDebug(lcPlatform).noquote() << line;
}

QStringList lines()
{
    QMutexLocker lock(&journal().mutex);
    return journal().lines;
}

void clear()
{
    QMutexLocker lock(&journal().mutex);
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
    default:
        return value.toString();
    }
}

QString hex(const unsigned char *bytes, int count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes), count).toHex());
}

} // namespace HostJournal
