#ifndef MODULE_H
#define MODULE_H

#include <QString>

class QObject;

namespace tqappframework {

// A framework module; object() carries the module's slots, allServiceReady()
// among them.
class Module
{
public:
    Module(const QString &name, QObject *object);
    virtual ~Module();

    QString name() const;
    virtual QObject *object() const;

private:
    QString m_name;
    QObject *m_object; // not owned
};

} // namespace tqappframework

#endif // MODULE_H
