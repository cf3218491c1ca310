#ifndef HOSTJOURNAL_H
#define HOSTJOURNAL_H

#include <QString>
#include <QStringList>
#include <QVariant>

// Every call into the host platform leaves one line here, e.g.
// "BaseControl::sendMcuKeyPressedSignal(5, 1)", and in the log under the
// category "platform". Thread-safe: the MCU reader thread calls in too. Only
// the newest 20000 lines are kept.
namespace HostJournal {

void record(const QString &line);
QStringList lines();
void clear();

// Argument formatting shared by the host classes: bools as true/false,
// texts in double quotes, numbers in decimal.
QString arg(bool value);
QString arg(const QString &value);
QString arg(const QVariant &value);
QString hex(const unsigned char *bytes, int count);

} // namespace HostJournal

#endif // HOSTJOURNAL_H
