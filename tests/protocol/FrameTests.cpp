// Transmit side: frame and packet layouts, the command catalogue, the trace.

#include "ProtocolTestSupport.h"

#include "protocol/Commands.h"
#include "protocol/DeviceState.h"
#include "protocol/Frame.h"
#include "protocol/Trace.h"
#include "protocol/Transmit.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
uint8_t txBuffer[1024];

Bytes tx (int length)
{
    return Bytes (txBuffer, txBuffer + length);
}

Bytes bytesOf (const uint8_t* p, int n)
{
    return Bytes (p, p + n);
}

template <size_t N>
Bytes bytesOf (const uint8_t (&a)[N])
{
    return Bytes (a, a + N);
}

TEST (Frame, BuildFrameLayoutsAndChecksums)
{
    struct Case { uint8_t opcode; const char* params; const char* frame; };
    const Case cases[] = {
        { 0x35, "00 00 03 61 62 63", "AA 00 07 35 00 00 03 61 62 63 9B" },
        { 0xD1, "",                  "AA 00 01 D1 2E" },
        { 0x02, "00 56",             "AA 00 03 02 00 56 A5" },
        { 0x14, "90",                "AA 00 02 14 90 5A" },
        { 0x14, "21",                "AA 00 02 14 21 C9" },
        { 0xD4, "01 08 01 00 01",    "AA 00 06 D4 01 08 01 00 01 1B" },
    };
    for (const auto& c : cases)
    {
        const Bytes params = hexBytes (c.params);
        const int length = encodeFrame (txBuffer, c.opcode, params.data(), static_cast<int> (params.size()));
        EXPECT_EQ (length, static_cast<int> (params.size()) + 5);
        EXPECT_EQ (tx (length), hexBytes (c.frame)) << c.frame;
    }
}

TEST (Frame, LongestShortFrameKeepsHighLengthByteZero)
{
    Bytes params (maxFrameParams, 0xFF);
    const int length = encodeFrame (txBuffer, 0x49, params.data(), maxFrameParams);
    ASSERT_EQ (length, 255);
    EXPECT_EQ (txBuffer[1], 0x00);
    EXPECT_EQ (txBuffer[2], 251);
    uint8_t sum = 0;
    for (int i = 1; i < length; ++i)
        sum = static_cast<uint8_t> (sum + txBuffer[i]);
    EXPECT_EQ (sum, 0) << "all bytes after the start byte add up to 0";

    // Beyond the limit the count is clamped rather than overflowing N.
    Bytes more (300, 0x01);
    EXPECT_EQ (encodeFrame (txBuffer, 0x49, more.data(), 300), 255);
    EXPECT_EQ (txBuffer[2], 251);
}

TEST (Commands, FixedImagesMatchTheirEncoding)
{
    struct Case { Bytes image; uint8_t opcode; const char* params; };
    const Case cases[] = {
        { bytesOf (cmdRestoreDefaults), 0x02, "00 56" },
        { bytesOf (cmdQueryName),       0x10, "" },
        { bytesOf (cmdQueryType),       0xD0, "00" },
        { bytesOf (cmdQueryVersion),    0xD0, "01" },
        { bytesOf (cmdApplySettings),   0xD1, "" },
        { bytesOf (cmdQuerySettings),   0xD3, "" },
        { bytesOf (cmdQueryPin),        0xD5, "" },
    };
    for (const auto& c : cases)
    {
        const Bytes params = hexBytes (c.params);
        uint8_t out[16];
        const int n = encodeFrame (out, c.opcode, params.data(), static_cast<int> (params.size()));
        EXPECT_EQ (bytesOf (out, n), c.image);
    }

    EXPECT_EQ (bytesOf (cmdQueryType), hexBytes ("AA 00 02 D0 00 2E"));
    EXPECT_EQ (bytesOf (cmdQueryVersion), hexBytes ("AA 00 02 D0 01 2D"));
    EXPECT_EQ (bytesOf (cmdQueryName), hexBytes ("AA 00 01 10 EF"));
    EXPECT_EQ (bytesOf (cmdQuerySettings), hexBytes ("AA 00 01 D3 2C"));
    EXPECT_EQ (bytesOf (cmdQueryPin), hexBytes ("AA 00 01 D5 2A"));
}

TEST (Commands, HciReadsMatchTheirEncoding)
{
    struct Case { Bytes image; uint16_t location; uint8_t count; const char* wire; };
    const Case cases[] = {
        { bytesOf (hciReadIdentity),  locIdentity,   4,  "01 29 FC 03 07 BA 04" },
        { bytesOf (hciReadName),      locNameRecord, 32, "01 29 FC 03 05 00 20" },
        { bytesOf (hciReadPin),       locPin,        4,  "01 29 FC 03 00 47 04" },
        { bytesOf (hciReadPinSwitch), locPinSwitch,  1,  "01 29 FC 03 00 B5 01" },
    };
    for (const auto& c : cases)
    {
        const uint8_t params[] = { static_cast<uint8_t> (c.location >> 8), static_cast<uint8_t> (c.location), c.count };
        uint8_t out[16];
        const int n = encodeHciCommand (out, hciReadMemory, params, 3);
        EXPECT_EQ (bytesOf (out, n), c.image);
        EXPECT_EQ (c.image, hexBytes (c.wire));
    }
}

TEST (Commands, NameCommand)
{
    uint8_t name[33] = {};
    EXPECT_EQ (tx (buildNameCommand (txBuffer, name)), hexBytes ("AA 00 04 35 00 00 00 C7"));

    std::memcpy (name, "abc", 3);
    EXPECT_EQ (tx (buildNameCommand (txBuffer, name)), hexBytes ("AA 00 07 35 00 00 03 61 62 63 9B"));

    // A full field: 32 bytes of text, never more, whatever follows.
    std::memset (name, 'x', 32);
    name[32] = 'y';
    const int length = buildNameCommand (txBuffer, name);
    EXPECT_EQ (length, 40);
    EXPECT_EQ (txBuffer[2], 36);
    EXPECT_EQ (txBuffer[6], 32);
}

TEST (Commands, PinCommandSendsFourDigitsOrFourZeros)
{
    struct Case { const char* pin; const char* frame; };
    const Case cases[] = {
        { "1234", "AA 00 05 06 31 32 33 34 2B" },
        { "12",   "AA 00 05 06 00 00 00 00 F5" }, // incomplete PIN
        { "",     "AA 00 05 06 00 00 00 00 F5" },
    };
    for (const auto& c : cases)
    {
        uint8_t pin[5] = {};
        std::memcpy (pin, c.pin, std::strlen (c.pin));
        EXPECT_EQ (tx (buildPinCommand (txBuffer, pin)), hexBytes (c.frame)) << c.pin;
    }
}

TEST (Commands, SettingsCommandKeepsItsOwnOrder)
{
    // stereo, eight devices, normally open, LED control off, restore control on
    EXPECT_EQ (tx (buildSettingsCommand (txBuffer, 1, 8, 1, 0, 1)), hexBytes ("AA 00 06 D4 01 08 01 00 01 1B"));
}

TEST (Commands, HciWrites)
{
    uint8_t out[48];
    EXPECT_EQ (bytesOf (out, encodeHciPinSwitchWrite (out, true)), hexBytes ("01 27 FC 04 00 B5 01 82"));
    EXPECT_EQ (bytesOf (out, encodeHciPinSwitchWrite (out, false)), hexBytes ("01 27 FC 04 00 B5 01 92"));

    const uint8_t pin[5] = { '1', '2', '3', '4', 0 };
    EXPECT_EQ (bytesOf (out, encodeHciPinWrite (out, pin)), hexBytes ("01 27 FC 07 00 47 04 31 32 33 34"));
    const uint8_t noPin[5] = {};
    EXPECT_EQ (bytesOf (out, encodeHciPinWrite (out, noPin)), hexBytes ("01 27 FC 07 00 47 04 00 00 00 00"));

    uint8_t name[33] = { 'a', 'b', 'c' };
    EXPECT_EQ (bytesOf (out, encodeHciNameWrite (out, name)), hexBytes ("01 27 FC 07 05 00 04 03 61 62 63"));
    std::memset (name, 'n', 32);
    EXPECT_EQ (encodeHciNameWrite (out, name), 40);
    EXPECT_EQ (out[3], 36);
    EXPECT_EQ (out[6], 33);
    EXPECT_EQ (out[7], 32);
}

TEST (Trace, FormatsLabelAndLowercaseHex)
{
    EXPECT_EQ (formatTrace (traceLabelCommand, cmdRestoreDefaults, 7), "< Cmd: aa0003020056a5");
    EXPECT_EQ (formatTrace (traceLabelEvent, nullptr, 0), "> Evt: ");
    EXPECT_EQ (formatTrace (traceLabelAck, cmdQueryName, 0), "< Ack: ");
    EXPECT_EQ (std::string (traceLabelDspHeader), "< DSPHDR: ");
}

TEST (Trace, PostsOnlyWhileTheSinkWantsLines)
{
    Link link;
    trace (link, traceLabelCommand, cmdQueryName, 5); // no sink: nothing, no crash

    RecordingSink sink (link);
    trace (link, traceLabelCommand, cmdQueryName, 5);
    sink.wanted = false;
    trace (link, traceLabelCommand, cmdQueryPin, 5);
    EXPECT_EQ (sink.take(), std::vector<std::string> { "< Cmd: aa000110ef" });

    // Each link's lines go to its own sink only.
    Link other;
    RecordingSink otherSink (other);
    sink.wanted = true;
    traceNote (other, "other");
    EXPECT_TRUE (sink.take().empty());
    EXPECT_EQ (otherSink.take(), std::vector<std::string> { "! other" });
}

TEST (Transmit, SendCommandWithoutPortStillTraces)
{
    TestJob job;   // no port
    RecordingSink sink (job.link);
    const uint8_t payload[] = { 0xD1 };
    sendCommand (job, payload, 1);
    EXPECT_EQ (sink.take(), std::vector<std::string> { "< Cmd: aa0001d12e" });
    EXPECT_EQ (Bytes (job.link.tx, job.link.tx + 5), hexBytes ("AA 00 01 D1 2E")) << "framed in the link's buffer";

    // Once the job is asked to exit, nothing more is sent or traced.
    job.exitRequested = true;
    sendCommand (job, payload, 1);
    EXPECT_TRUE (sink.take().empty());
    writePacket (-1, payload, 1);   // invalid indices write nothing
    writePacket (255, payload, 1);
}
}
