#ifndef APPLICATION_H
#define APPLICATION_H

#include <QApplication>

// The head unit's application object. The launcher builds the constructor,
// destructor and notify(); the visibility query belongs to the platform.
class Application : public QApplication
{
public:
    Application(int &argc, char **argv);
    ~Application() override;

    bool notify(QObject *receiver, QEvent *event) override;

    // Whether the platform currently shows this application. May change at any
    // time and is asked on every event, from whichever thread delivers it.
    bool isApVisible();
};

#endif // APPLICATION_H
