#include <QtTest>

#include "testmessages.h"

// The platform's libraries call back into the launcher executable; its dynamic
// symbol table must offer exactly what they call and nothing of its insides.
class tst_Exports : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void linkOperations();
    void beepFilter();
    void nothingElseOfTheLauncher_data();
    void nothingElseOfTheLauncher();

private:
    QStringList m_symbols;
};

void tst_Exports::initTestCase()
{
    TestMessages::install();
    QFile symbols(QStringLiteral(LAUNCHER_SYMBOLS)); // nm -DC --defined-only, written by the build
    QVERIFY2(symbols.open(QIODevice::ReadOnly), qPrintable(symbols.errorString()));
    for (const QString &line : QString::fromLatin1(symbols.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        m_symbols << line.section(QLatin1Char(' '), 2); // address, type, name
    QVERIFY(!m_symbols.isEmpty());
}

void tst_Exports::linkOperations()
{
    const QString prefix = QStringLiteral("tqappframework::MainAppProtocolComm::");
    QStringList exported;
    for (const QString &symbol : qAsConst(m_symbols)) {
        if (symbol.startsWith(prefix))
            exported << symbol.mid(prefix.size());
    }
    exported.sort();
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
    };
    expected.sort();
    QCOMPARE(exported, expected);
}

void tst_Exports::beepFilter()
{
    QVERIFY(m_symbols.contains("MEventFilter::GetInstance()"));
    QVERIFY(m_symbols.contains("vtable for MEventFilter"));
    QVERIFY(!m_symbols.contains("MEventFilter::DeleteInstance()"));
}

void tst_Exports::nothingElseOfTheLauncher_data()
{
    QTest::addColumn<QString>("prefix");
    QTest::newRow("transport") << "McuTransport::";
    QTest::newRow("reassembly") << "FrameReassembler::";
    QTest::newRow("endpoint") << "McuEndpoint::";
    QTest::newRow("settings") << "SysConfig::";
    QTest::newRow("start sequence") << "MainStart::";
    QTest::newRow("staged start") << "SystemStartup";
    QTest::newRow("application object") << "Application::";
    QTest::newRow("link vtable") << "vtable for tqappframework::MainAppProtocolComm";
}

void tst_Exports::nothingElseOfTheLauncher()
{
    QFETCH(QString, prefix);
    for (const QString &symbol : qAsConst(m_symbols))
        QVERIFY2(!symbol.startsWith(prefix), qPrintable(symbol));
}

QTEST_GUILESS_MAIN(tst_Exports)
#include "tst_exports.moc"
