#include <application.h>

#include <QEvent>

#include <cstring>

namespace {

// What nobody sees need not be painted, laid out or polished while another
// application owns the screen. Input, timers, deferred deletions and queued
// calls go on, so beeps and the MCU's work are never held up.
bool swallowedWhileHidden(QObject *receiver, QEvent::Type type)
{
    switch (type) {
    case QEvent::Timer:
        // Only the pixmap cache's flush timer; every other timer keeps running.
        return std::strcmp(receiver->metaObject()->className(), "QPMCache") == 0;
    case QEvent::MouseMove:
    case QEvent::FocusIn:
    case QEvent::FocusOut:
    case QEvent::Paint:
    case QEvent::Resize:
    case QEvent::Create:
    case QEvent::Destroy:
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::ParentChange:
    case QEvent::FocusAboutToChange:
    case QEvent::ShowToParent:
    case QEvent::HideToParent:
    case QEvent::PaletteChange:
    case QEvent::ChildAdded:
    case QEvent::ChildPolished:
    case QEvent::ChildRemoved:
    case QEvent::ShowWindowRequest:
    case QEvent::PolishRequest:
    case QEvent::Polish:
    case QEvent::LayoutRequest:
    case QEvent::UpdateRequest:
    case QEvent::UpdateLater:
    case QEvent::FontChange:
    case QEvent::InputMethodQuery:
        return true;
    default:
        return false;
    }
}

} // namespace

Application::Application(int &argc, char **argv)
    : QApplication(argc, argv)
{
}

Application::~Application() = default;

bool Application::notify(QObject *receiver, QEvent *event)
{
    if (isApVisible())
        return QApplication::notify(receiver, event);
    // Swallowed here, before QApplication::notify, so not even the
    // application-wide event filters see it.
    if (swallowedWhileHidden(receiver, event->type()))
        return true;
    return QApplication::notify(receiver, event);
}
