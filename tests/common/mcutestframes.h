#ifndef MCUTESTFRAMES_H
#define MCUTESTFRAMES_H

// Frames as bytes, built field by field and independently of the launcher's
// own records, for comparing against what crosses the wire.

#include <QByteArray>
#include <QtEndian>

#include <cstdint>

namespace McuTestFrames {

inline QByteArray word(uint32_t value)
{
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

inline QByteArray normal(uint32_t msg, uint32_t p1, uint32_t p2)
{
    return word(1) + word(msg) + word(p1) + word(p2);
}

// Outbound long frame: kind, msg, data zero-filled to 264 bytes.
inline QByteArray outboundLong(uint32_t kind, uint32_t msg, const QByteArray &data)
{
    QByteArray frame = word(kind) + word(msg) + data;
    frame.append(QByteArray(264 - frame.size(), '\0'));
    return frame;
}

// Inbound long frame as the MCU service sends it: kind, msg, len and the
// payload, unpadded. len is 12 and the payload's size unless given.
inline QByteArray inboundLong(uint32_t kind, uint32_t msg, const QByteArray &payload, uint32_t len = 0)
{
    return word(kind) + word(msg) + word(len ? len : uint32_t(12 + payload.size())) + payload;
}

// The same frame as the dispatcher receives it, zero up to 268 bytes.
inline QByteArray inboundRecord(uint32_t kind, uint32_t msg, const QByteArray &data)
{
    QByteArray frame = inboundLong(kind, msg, data);
    frame.append(QByteArray(268 - frame.size(), '\0'));
    return frame;
}

} // namespace McuTestFrames

#endif // MCUTESTFRAMES_H
