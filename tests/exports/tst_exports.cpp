#include <QtTest>

#include "testmessages.h"

// The platform's libraries call back into the launcher executable; its dynamic
// symbol table must offer exactly what they call and nothing of its insides.
class tst_Exports : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { TestMessages::install(); }
    void exactlyWhatThePlatformCalls();
};

void tst_Exports::exactlyWhatThePlatformCalls()
{
    QFile symbols(QStringLiteral(LAUNCHER_SYMBOLS)); // nm -DC --defined-only, written by the build
    QVERIFY2(symbols.open(QIODevice::ReadOnly), qPrintable(symbols.errorString()));

    // The launcher's own symbols; the C library's and a sanitizer's are no concern here.
    const QRegularExpression own(QStringLiteral("^(vtable for |typeinfo for |typeinfo name for )?"
                                                "(tqappframework::|MEventFilter|Mcu[A-Z]|FrameReassembler|SysConfig|MainStart|"
                                                "SystemStartup|Application|Service[A-Z]|StartupCheckpoints)"));
    QStringList exported;
    for (const QString &line : QString::fromLatin1(symbols.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QString symbol = line.section(QLatin1Char(' '), 2); // address, type, name
        if (own.match(symbol).hasMatch())
            exported << symbol.remove(QStringLiteral("tqappframework::MainAppProtocolComm::"));
    }
    exported.sort();

    // The link's operations and its recorder's dump, and the beep filter as a QObject behind
    // GetInstance() (its vtable drags in the meta-object members).
    QStringList expected = {
        "GetInstance()",
        "SendData(void*, int)",
        "EjectDisc()",
        "AppReady()",
        "SendCurSrcToMcu(int, int)",
        "onlySendCurSrcToMcu(int, int)",
        "SendDataToMcu(unsigned int, unsigned int, unsigned int)",
        "SendHeartbeattoMCU()",
        "SendKeyStudyCmdToMcu(STEER_KEY_STUDY_CMD_TYPE, unsigned char)",
        "SendTimeClockToMcu(unsigned char, unsigned int)",
        "SendMediaPlayInfoToMcu(unsigned char*, int)",
        "SendKeyColorToMcu(unsigned int, unsigned int, unsigned int)",
        "SendLongDataToMcu(unsigned int, unsigned char*, int)",
        "SendLongDataToCAN(unsigned int, unsigned char*, int)",
        "SendBeatHeartOnOff(unsigned char)",
        "DumpFlightRecorder()",
        "MEventFilter::GetInstance()",
        "MEventFilter::eventFilter(QObject*, QEvent*)",
        "MEventFilter::mcuPlayBeepSig()",
        "MEventFilter::metaObject() const",
        "MEventFilter::playSound()",
        "MEventFilter::qt_metacall(QMetaObject::Call, int, void**)",
        "MEventFilter::qt_metacast(char const*)",
        "MEventFilter::staticMetaObject",
        "typeinfo for MEventFilter",
        "typeinfo name for MEventFilter",
        "vtable for MEventFilter",
    };
    expected.sort();
    QCOMPARE(exported, expected);
}

QTEST_GUILESS_MAIN(tst_Exports)
#include "tst_exports.moc"
