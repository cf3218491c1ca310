#include "mainstart.h"
#include "meventfilter.h"

#include <application.h>

#include <QDebug>
#include <QTextCodec>

int main(int argc, char **argv)
{
    Application app(argc, argv);
    qDebug() << "QApplication===>Application\n\n ";
    qDebug() << "\n\n\n ";
    qDebug() << "\t             QT new Launcher start !!";
    qDebug() << "\n";
    qDebug() << "\t app build: " << __DATE__ << "  " << __TIME__;
    qDebug() << "\n\n\n ";

    app.installEventFilter(MEventFilter::GetInstance());
    MainStart mainStart;
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    mainStart.start();

    const int result = app.exec();

    MEventFilter::DeleteInstance();
    return result; // mainStart, then app, go in that order
}
