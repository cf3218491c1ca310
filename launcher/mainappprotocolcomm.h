#ifndef MAINAPPPROTOCOLCOMM_H
#define MAINAPPPROTOCOLCOMM_H

#include "launcherexport.h"
#include "mcuendpoint.h"
#include "mcuframesink.h"
#include "mculinkreporter.h"
#include "mcutransport.h"

#include <mcuframes.h>

// Type of a steering-key learning command: a normal message or a long frame.
// Fixed to int: the platform may pass any other value, which is refused.
enum STEER_KEY_STUDY_CMD_TYPE : int {
    STEER_KEY_STUDY_CMD_NORMAL = 0,
    STEER_KEY_STUDY_CMD_LONG = 1,
};

// Calendar date and local time of day, as getTime() fills it.
struct TimeParam {
    int year;
    int month;
    int day;
    int hour;
    int minute;
};

namespace tqappframework {

// The launcher's link to the MCU service. The platform's libraries reach it
// through the exported members; everything else stays inside the executable.
//
// Threads: the send operations may be called from any thread; resolvePacket()
// and every inbound handler run on the link's reader thread; GetInstance(),
// Start() and Stop() belong to the thread that runs the start sequence.
class MainAppProtocolComm : private McuFrameSink
{
public:
    LAUNCHER_EXPORT static MainAppProtocolComm *GetInstance();
    static void DeleteInstance();

    // Tests and tools build links on endpoints of their own; the process-wide
    // instance always uses McuEndpoint::production().
    explicit MainAppProtocolComm(const McuEndpoint &endpoint);
    virtual ~MainAppProtocolComm();

    MainAppProtocolComm(const MainAppProtocolComm &) = delete;
    MainAppProtocolComm &operator=(const MainAppProtocolComm &) = delete;

    void Start();
    int Stop();

    // Sends one caller-built frame whole: 0 when sent, -1 when it could not be.
    LAUNCHER_EXPORT int SendData(void *data, int len);

    // Outbound commands. Each returns SendData()'s result, or -1 when its
    // arguments are refused (nothing is sent then).
    LAUNCHER_EXPORT int EjectDisc();
    LAUNCHER_EXPORT int AppReady();
    LAUNCHER_EXPORT int SendCurSrcToMcu(int id, int arg);
    LAUNCHER_EXPORT int onlySendCurSrcToMcu(int id, int arg);
    LAUNCHER_EXPORT int SendDataToMcu(unsigned int msg, unsigned int p1, unsigned int p2);
    LAUNCHER_EXPORT int SendHeartbeattoMCU();
    LAUNCHER_EXPORT int SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_TYPE type, unsigned char value);
    LAUNCHER_EXPORT int SendTimeClockToMcu(unsigned char msg, unsigned int time);
    LAUNCHER_EXPORT int SendMediaPlayInfoToMcu(unsigned char *data, int count);
    LAUNCHER_EXPORT int SendKeyColorToMcu(unsigned int first, unsigned int second, unsigned int third);
    LAUNCHER_EXPORT int SendLongDataToMcu(unsigned int msg, unsigned char *data, int count);
    LAUNCHER_EXPORT int SendLongDataToCAN(unsigned int msg, unsigned char *data, int count);
    LAUNCHER_EXPORT int SendBeatHeartOnOff(unsigned char on);

    // Writes the link's flight recorder (its last 1024 frames) to a capture
    // file, off the caller's thread: for the platform's diagnostics. 0 when
    // asked, -1 when the link does not exist yet.
    LAUNCHER_EXPORT static int DumpFlightRecorder();
    void HandleMCUSourceMsg(unsigned int source);

    // Inbound dispatch of one complete frame (reader thread).
    void resolvePacket(unsigned char *frame);

    // Modified Julian Day plus two minute counts to a calendar date and time.
    void getTime(unsigned long mjd, int minutesA, int minutesB, TimeParam *result);

private:
    void onMcuFrame(unsigned char *frame) override;

    void resolveNormalMsg(const MCU_NORMAL_MSG_T &msg);
    void resolveLongMsg(unsigned char *frame);
    void sendVersionInfo();
    void handleMcuTime(const unsigned char *frame);
    void handleRdsTime(const unsigned char *frame);
    int sendLongData(uint32_t kind, uint32_t msg, const unsigned char *data, int count);

    static MainAppProtocolComm *m_s_MainAppProtocolComm; // start-sequence thread

    McuLinkReporter m_reporter; // stateless; called by the transport from any thread
    McuTransport m_transport; // thread-safe; its reader thread calls onMcuFrame()
};

} // namespace tqappframework

#endif // MAINAPPPROTOCOLCOMM_H
