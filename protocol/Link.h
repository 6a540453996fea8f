#pragma once
// Everything that belongs to the conversation with one receiver: the port it is
// on, both receive paths, the transmit buffer, the reply time limit, where its
// trace lines go, what is known about the receiver and, during an update, the
// image and its progress. The window holds one link; the command line holds
// one per port it drives, each used by one job thread at a time.

#include "protocol/ByteRing.h"
#include "protocol/DeviceState.h"
#include "protocol/FrameAssembler.h"
#include "protocol/HciAssembler.h"

#include <atomic>
#include <cstdint>
#include <memory>

class FirmwareImage;   // firmware/: carried, never looked into, by this layer
class TraceSink;

constexpr uint16_t rxRingSize = 1024;
constexpr uint16_t ackQueueSize = 10;
constexpr uint16_t hciRingSize = 1024;

/** Size of a link's transmit buffer. */
constexpr int txBufferSize = 1024;

class Link
{
public:
    explicit Link (int port = -1) noexcept : portIndex (port) {}

    Link (const Link&) = delete;
    Link& operator= (const Link&) = delete;

    /** The PortTable entry jobs on this link open; -1 none. Its owner sets it
        while no job runs on the link. */
    int portIndex;

    // Framed receive path (types 0xF0, 0xF2): bytes read, opcodes still to be
    // acknowledged, and the assembler's state between polls.
    ByteRing rx { rxStorage, rxRingSize };
    ByteRing acks { ackStorage, ackQueueSize };
    FrameAssembler assembler;

    // HCI receive path (type 0xF1), and the parameters of its last event.
    ByteRing hciRx { hciStorage, hciRingSize };
    HciAssembler hciAssembler;
    uint8_t hciReply[64] = {};

    /** Where outgoing frames are built; only the job's thread uses it. */
    uint8_t tx[txBufferSize] = {};

    /** Reply time limit in 10 ms passes, armed by a receiver's reset. */
    int32_t waitTicks = 0;

    /** The receiver on this link: type, version and settings. */
    DeviceState device;

    /** Where this link's trace lines go, or nullptr; read by the job's thread. */
    std::atomic<TraceSink*> traceSink { nullptr };

    /** During an update: the checked image, shared read-only with other links. */
    std::shared_ptr<const FirmwareImage> image;

    /** The update's progress, 0 to 1, and the image bytes acknowledged so far:
        written by the job's thread, read by progress displays without a lock. */
    std::atomic<double> updateProgress { 0.0 };
    std::atomic<uint32_t> bytesAcknowledged { 0 };

private:
    uint8_t rxStorage[rxRingSize] = {};
    uint8_t ackStorage[ackQueueSize] = {};
    uint8_t hciStorage[hciRingSize] = {};
};
