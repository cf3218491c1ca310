#ifndef RECORDINGSINK_H
#define RECORDINGSINK_H

// Keeps every frame handed on, as the dispatcher would get it: the 16 bytes
// of a normal frame, the 268-byte record of any other. Any thread.

#include <mcuframes.h>
#include <mcuframesink.h>

#include <QByteArray>
#include <QList>

#include <cstring>
#include <mutex>

class RecordingSink : public McuFrameSink
{
public:
    void onMcuFrame(unsigned char *frame) override
    {
        uint32_t kind;
        std::memcpy(&kind, frame, sizeof kind);
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.append(QByteArray(reinterpret_cast<const char *>(frame), kind == MCU_FRAME_NORMAL ? 16 : 268));
    }
    QList<QByteArray> frames()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }

private:
    std::mutex m_mutex;
    QList<QByteArray> m_frames;
};

#endif // RECORDINGSINK_H
