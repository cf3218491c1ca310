#ifndef USBCONTROL_H
#define USBCONTROL_H

// The USB service: how connected phones are treated. Modes take effect at
// startup().
class UsbControl
{
public:
    enum AppleDeviceMode {
        AppleCarplay = 0,
        AppleCarlife = 1,
        AppleIpod = 2,
        AppleIosMirror = 3,
        AppleWebLink = 4,
    };

    enum AndroidDeviceMode {
        AndroidAuto = 0,
        AndroidAutoLink = 1,
        AndroidCarlife = 2,
        AndroidMirror = 3,
        AndroidWebLink = 4,
    };

    static UsbControl *getInstance();

    void setAppleDeviceMode(AppleDeviceMode mode);
    void setAndroidDeviceMode(AndroidDeviceMode mode);
    void configAoaTimeoutAction(bool timeout);
    void startup();

private:
    UsbControl();
};

#endif // USBCONTROL_H
