#ifndef LINKEVENTS_H
#define LINKEVENTS_H

// What the MCU link told its observer, one line an event in the order they
// came, from whichever thread told it.

#include <mculinkobserver.h>

#include <QFileInfo>
#include <QStringList>

#include <mutex>

class LinkEvents : public McuLinkObserver
{
public:
    void linkUp(const McuPeerCredentials &peer, unsigned attempts, int64_t) override
    {
        add(QStringLiteral("up pid %1 uid %2 after %3").arg(peer.pid).arg(peer.uid).arg(attempts ? "retries" : "none"));
    }
    void linkDown(int error) override { add(QStringLiteral("down %1").arg(error)); }
    void linkStillDown(unsigned, int64_t) override { add(QStringLiteral("still down")); }
    void ownPathRefused(const char *, int error) override { add(QStringLiteral("unnamed %1").arg(error)); }
    void peerRefused(const McuPeerCredentials &peer) override
    {
        add(QStringLiteral("refused pid %1 uid %2").arg(peer.pid).arg(peer.uid));
    }
    void dumpWritten(const char *path, size_t) override { add(QStringLiteral("written ") + QFileInfo(path).fileName()); }
    void dumpFailed(const char *) override { add(QStringLiteral("failed")); }

    QStringList events()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_events;
    }
    // The flight recorder's dumps only.
    QStringList dumps()
    {
        QStringList dumps;
        for (const QString &e : events()) {
            if (e.startsWith(QLatin1String("written ")) || e == QLatin1String("failed"))
                dumps << e;
        }
        return dumps;
    }

private:
    void add(const QString &line)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_events.append(line);
    }

    std::mutex m_mutex;
    QStringList m_events; // under m_mutex
};

#endif // LINKEVENTS_H
