#ifndef BASECONTROL_H
#define BASECONTROL_H

#include <QString>

#include <mcuframes.h>

// The UI-side controller. Called from the main thread and from the MCU reader
// thread.
class BaseControl
{
public:
    static BaseControl *getInstance();

    void changeMediaSrcSlot(int from, int to);
    void sendMcuKeyPressedSignal(int key, int state);
    void ejectSlot();
    QString getDateVersion();

    void RecevieMsgFromMcu(tag_MCUSRV_TO_MAIN_APP_T frame);
    void RecevieSIMMsgFromMcu(tag_MCUSRV_TO_MAIN_APP_T frame);
    void RecevieMCMMsgFromMcu(tag_MCUSRV_TO_MAIN_APP_T frame);
    void ReceiveKeyStudyMsgFromMcu(MCU_STEER_KEY_STUDY_DATA data);
    // data is valid only during the call.
    void RecevieAutoTestFromMcu(int item, unsigned char *data);

private:
    BaseControl();
};

#endif // BASECONTROL_H
