#ifndef SERVICESTATUS_H
#define SERVICESTATUS_H

#include <QString>

// What the service manager shows of the launcher (systemctl status): one
// STATUS= line made of the start's progress and the MCU link's state, READY=1
// once the start sequence is done (the MCU service may still be away; the
// status says so), STOPPING=1 at the end.
// Any thread; each change is one message.
namespace ServiceStatus {

void starting();
void servicesStage(const char *progress); // "stage 0 started", "all services ready", ...
void startupSummary(const QString &summary);

void linkUp();
void linkDown(unsigned attempts);

// READY=1, the first time only.
void ready();
void stopping();

} // namespace ServiceStatus

#endif // SERVICESTATUS_H
