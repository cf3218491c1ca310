#ifndef UIMANAGER_H
#define UIMANAGER_H

namespace tqappframework {

class UIManager
{
public:
    static void setRightDrive(bool rightDrive, bool flag);
};

} // namespace tqappframework

#endif // UIMANAGER_H
