#include "mainappprotocolcomm.h"

namespace tqappframework {

MainAppProtocolComm *MainAppProtocolComm::m_s_MainAppProtocolComm = nullptr;

// Created by the start sequence before any other thread can reach the link,
// so neither this nor DeleteInstance() takes a lock.
MainAppProtocolComm *MainAppProtocolComm::GetInstance()
{
    if (!m_s_MainAppProtocolComm)
        m_s_MainAppProtocolComm = new MainAppProtocolComm(McuEndpoint::production());
    return m_s_MainAppProtocolComm;
}

void MainAppProtocolComm::DeleteInstance()
{
    delete m_s_MainAppProtocolComm;
    m_s_MainAppProtocolComm = nullptr;
}

MainAppProtocolComm::MainAppProtocolComm(const McuEndpoint &endpoint)
    : m_transport(*this, endpoint, &m_reporter)
{
}

// The reader dispatches into this object, so it is joined before anything of
// the object goes.
MainAppProtocolComm::~MainAppProtocolComm()
{
    m_transport.stop();
}

void MainAppProtocolComm::Start()
{
    m_transport.start();
}

int MainAppProtocolComm::Stop()
{
    return m_transport.stop();
}

int MainAppProtocolComm::DumpFlightRecorder()
{
    if (!m_s_MainAppProtocolComm)
        return -1;
    m_s_MainAppProtocolComm->m_transport.requestDump();
    return 0;
}

int MainAppProtocolComm::SendData(void *data, int len)
{
    return m_transport.sendData(data, len);
}

// Reader thread.
void MainAppProtocolComm::onMcuFrame(unsigned char *frame)
{
    resolvePacket(frame);
}

} // namespace tqappframework
