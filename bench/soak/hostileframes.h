#ifndef HOSTILEFRAMES_H
#define HOSTILEFRAMES_H

// The byte stream of a broken or hostile MCU service: valid normal, long and
// CAN frames of every kind the launcher handles (some of which make it reply),
// frames with flipped bits, and now and then a len word that is zero, negative
// or oversized, a frame longer than the 268 bytes the launcher takes of it, a
// damaged header or noise. The same seed gives the same stream.
//
// The launcher finds its way back into step with a stream only on a new
// connection, so the events that break the framing are reported: the peer
// ends the stream after them, as a service that lost track of it would.

#include <cstdint>
#include <random>
#include <vector>

class HostileFrames
{
public:
    enum class Mix {
        Hostile,  // everything above
        Longest,  // only frames whose journal line is the longest the wire allows
    };

    HostileFrames(uint32_t seed, Mix mix);

    // Appends the bytes of one event: a frame, a damaged frame or noise.
    // True when the event may have broken the framing of the stream.
    bool append(std::vector<unsigned char> &out);

private:
    void validFrame(std::vector<unsigned char> &out);
    void normalFrame(std::vector<unsigned char> &out);
    void longFrame(std::vector<unsigned char> &out, uint32_t kind, bool overlong = false);
    void mutatedFrame(std::vector<unsigned char> &out);
    void badLenFrame(std::vector<unsigned char> &out);
    void damagedHeader(std::vector<unsigned char> &out);
    void noise(std::vector<unsigned char> &out);
    void longestFrame(std::vector<unsigned char> &out);

    uint32_t below(uint32_t n);
    uint32_t word();

    std::mt19937 m_rng;
    Mix m_mix;
};

#endif // HOSTILEFRAMES_H
