#ifndef HOSTJOURNAL_H
#define HOSTJOURNAL_H

#include <QString>
#include <QStringList>
#include <QVariant>

// Every call into the host platform leaves one line here, e.g.
// "BaseControl::sendMcuKeyPressedSignal(5, 1)", and in the log under the
// category "headunit.platform". Thread-safe: the MCU reader thread calls in
// too. Only the newest 20000 lines are kept. Whoever checks the calls reads
// them here, never from the log, which logging rules may switch off.
namespace HostJournal {

void record(const QString &line);
QStringList lines();
void clear();

// Called with each line once it is recorded, on the recording thread, outside
// the journal's lock; for a reader that needs the calls in their order among
// events of its own. One per process; nullptr removes it.
using Observer = void (*)(const QString &line);
void setObserver(Observer observer);

// Argument formatting shared by the host classes: bools as true/false,
// texts in double quotes, numbers in decimal.
QString arg(bool value);
QString arg(const QString &value);
QString arg(const QVariant &value);
QString hex(const unsigned char *bytes, int count);

} // namespace HostJournal

#endif // HOSTJOURNAL_H
