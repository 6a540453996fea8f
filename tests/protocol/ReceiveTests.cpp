// Receive side fed directly with byte strings: the frame assembler, event
// decoding and acknowledgements of pollEvents, the HCI receiver, the rings.

#include "ProtocolTestSupport.h"

#include "protocol/ByteRing.h"
#include "protocol/DeviceState.h"
#include "protocol/EventReceiver.h"
#include "protocol/HciReceiver.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

class Receive : public testing::Test
{
protected:
    void SetUp() override
    {
        sink.attach (job.link);
    }

    /** The link as a new one: nothing known, nothing buffered. */
    void fresh()
    {
        Link& link = job.link;
        link.device = DeviceState {};
        link.assembler.reset();
        link.rx.clear();
        link.acks.clear();
        link.hciAssembler.reset();
        link.hciRx.clear();
    }

    EventResult feed (const std::string& hex)
    {
        const Bytes b = hexBytes (hex);
        return feedEvents (job, b.data(), static_cast<int> (b.size()));
    }

    EventResult feedHci (const std::string& hex)
    {
        const Bytes b = hexBytes (hex);
        return feedHciEvents (job, b.data(), static_cast<int> (b.size()));
    }

    std::string name() const { return reinterpret_cast<const char*> (job.link.device.config.name); }
    std::string pin() const { return reinterpret_cast<const char*> (job.link.device.config.pin); }

    RecordingSink sink;
    TestJob job;
};

TEST_F (Receive, TypeEventIsStoredTracedAndAcknowledged)
{
    EXPECT_EQ (pollEvents (job, true), EventResult::None);
    EXPECT_EQ (job.link.waitTicks, 200);
    EXPECT_EQ (feed ("AA 00 03 90 00 F0 7D"), EventResult::TypeReply);
    EXPECT_EQ (job.link.device.reportedTypeCode, 0xF0);
    EXPECT_EQ (job.link.device.typeCode, 0) << "only detection takes a reported type as the device's";
    EXPECT_EQ (sink.take(), (std::vector<std::string> { "> Evt: aa00039000f07d", "< Ack: aa000214905a" }));
}

TEST_F (Receive, FrameSplitAcrossPolls)
{
    EXPECT_EQ (feed ("AA 00"), EventResult::None);
    EXPECT_EQ (feed ("03 90 00 F0 7D"), EventResult::TypeReply);

    // One byte per poll: only the checksum byte completes the frame.
    const Bytes frame = hexBytes ("AA 00 04 90 01 01 07 63");
    for (size_t i = 0; i + 1 < frame.size(); ++i)
        EXPECT_EQ (feedEvents (job, &frame[i], 1), EventResult::None) << i;
    EXPECT_EQ (feedEvents (job, &frame.back(), 1), EventResult::VersionReply);
    EXPECT_EQ (job.link.device.reportedVersionMajor, 0x01);
    EXPECT_EQ (job.link.device.reportedVersionMinor, 0x07);
}

TEST_F (Receive, OneFramePerPoll)
{
    EXPECT_EQ (feed ("AA 00 03 90 00 F2 7B  AA 00 04 90 01 01 07 63"), EventResult::TypeReply);
    EXPECT_EQ (sink.take().size(), 2u);
    EXPECT_EQ (feed (""), EventResult::VersionReply);
    EXPECT_EQ (feed (""), EventResult::None);
}

TEST_F (Receive, DroppedFrames)
{
    struct Case { const char* bytes; const char* why; };
    const Case cases[] = {
        { "AA 00 03 90 00 F0 7C",    "wrong checksum" },
        { "AA 01 03 90 00 F0 7D",    "high length byte not 0" },
        { "AA AA 00 03 90 00 F0 7D", "second start byte abandons the frame" },
        { "AA 00 01 D1 2E",          "opcode without parameters" },
        { "55 90 00 F0 7D",          "no start byte" },
    };
    for (const auto& c : cases)
    {
        fresh();
        sink.take();
        EXPECT_EQ (feed (c.bytes), EventResult::None) << c.why;
        EXPECT_EQ (feed (""), EventResult::None) << c.why;
        EXPECT_TRUE (sink.take().empty()) << c.why << ": nothing traced or acknowledged";
        EXPECT_EQ (job.link.device.reportedTypeCode, 0) << c.why;
        EXPECT_EQ (feed ("AA 00 03 90 00 F0 7D"), EventResult::TypeReply) << c.why << ": the next frame is decoded";
    }
}

TEST_F (Receive, BodyLimitOfOneHundredBytes)
{
    auto frameOfLength = [] (int n)
    {
        Bytes f { 0xAA, 0x00, static_cast<uint8_t> (n), 0x55 };
        f.resize (static_cast<size_t> (n) + 3, 0x00);
        uint8_t sum = 0;
        for (size_t i = 1; i < f.size(); ++i)
            sum = static_cast<uint8_t> (sum + f[i]);
        f.push_back (static_cast<uint8_t> (-sum));
        return f;
    };
    const Bytes ok = frameOfLength (100);
    feedEvents (job, ok.data(), static_cast<int> (ok.size()));
    EXPECT_EQ (sink.take().size(), 2u) << "N = 100 completes";

    for (int n : { 0, 101, 200 })
    {
        Bytes f = frameOfLength (n == 0 ? 256 : n); // N = 0 counts down from 256
        f[2] = static_cast<uint8_t> (n);
        feedEvents (job, f.data(), static_cast<int> (f.size()));
        EXPECT_TRUE (sink.take().empty()) << "N = " << n << " is abandoned";
    }
}

TEST_F (Receive, CommandAcknowledgements)
{
    struct Case { const char* frame; EventResult result; };
    const Case cases[] = {
        { "AA 00 03 00 02 00 FB", EventResult::AckCmd02 },
        { "AA 00 03 00 06 00 F7", EventResult::AckCmd06 },
        { "AA 00 03 00 35 00 C8", EventResult::AckCmd35 },
        { "AA 00 03 00 49 00 B4", EventResult::AckCmd49 },
        { "AA 00 03 00 D1 00 2C", EventResult::AckCmdD1 },
        { "AA 00 03 00 D4 00 29", EventResult::AckCmdD4 },
        { "AA 00 03 00 D6 00 27", EventResult::AckCmdD6 },
        { "AA 00 03 00 10 00 ED", EventResult::None },
        { "AA 00 03 00 D0 00 2D", EventResult::None },
    };
    for (const auto& c : cases)
    {
        CaptureStderr();
        EXPECT_EQ (feed (c.frame), c.result) << c.frame;
        EXPECT_EQ (GetCapturedStderr(), "") << c.frame;
        const auto lines = sink.take();
        ASSERT_EQ (lines.size(), 1u) << "traced, never acknowledged: " << c.frame;
        EXPECT_EQ (lines[0].rfind ("> Evt: ", 0), 0u);
    }
}

TEST_F (Receive, RefusedCommandWritesTheDebuggerText)
{
    CaptureStderr();
    EXPECT_EQ (feed ("AA 00 03 00 35 01 C7"), EventResult::Rejected);
    EXPECT_EQ (GetCapturedStderr(), "\nnnot possible to run operation on this moment cmd:35 status:01\n");
    EXPECT_EQ (sink.take(), std::vector<std::string> { "> Evt: aa0003003501c7" });

    CaptureStderr();
    EXPECT_EQ (feed ("AA 00 03 00 49 12 A2"), EventResult::Rejected);
    EXPECT_EQ (GetCapturedStderr(), "\nnnot possible to run operation on this moment cmd:49 status:12\n");
}

TEST_F (Receive, StatusAnd0EEvents)
{
    struct Case { const char* frame; EventResult result; };
    const Case cases[] = {
        { "AA 00 02 01 00 FD", EventResult::StatusZero },
        { "AA 00 02 01 02 FB", EventResult::StatusTwo },
        { "AA 00 02 01 01 FC", EventResult::None },
        { "AA 00 02 0E 00 F0", EventResult::Event0EZero },
        { "AA 00 02 0E 05 EB", EventResult::None },
        { "AA 00 03 90 02 05 66", EventResult::None },
        { "AA 00 02 55 00 A9", EventResult::None }, // unknown event: traced and acknowledged
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ (feed (c.frame), c.result) << c.frame;
        const auto lines = sink.take();
        ASSERT_EQ (lines.size(), 2u) << c.frame;
        EXPECT_EQ (lines[1].rfind ("< Ack: aa000214", 0), 0u) << lines[1];
    }
}

TEST_F (Receive, SettingsEventOrder)
{
    struct Case { const char* params; uint8_t stereo, gpo, led, restore, max; };
    const Case cases[] = {
        { "01 00 01 00 01", 1, 0, 1, 0, 1 },
        { "00 01 00 01 02", 0, 1, 0, 1, 8 },
        { "05 FF 00 00 00", 1, 1, 0, 0, 8 },
        { "00 00 00 00 08", 0, 0, 0, 0, 8 },
    };
    for (const auto& c : cases)
    {
        const Bytes p = hexBytes (c.params);
        Bytes f { 0xAA, 0x00, 0x06, 0x91 };
        f.insert (f.end(), p.begin(), p.end());
        uint8_t sum = 0;
        for (size_t i = 1; i < f.size(); ++i)
            sum = static_cast<uint8_t> (sum + f[i]);
        f.push_back (static_cast<uint8_t> (-sum));

        EXPECT_EQ (feedEvents (job, f.data(), static_cast<int> (f.size())), EventResult::SettingsReply);
        const auto& config = job.link.device.config;
        EXPECT_EQ (config.stereo, c.stereo) << c.params;
        EXPECT_EQ (config.gpoNormallyOpen, c.gpo) << c.params;
        EXPECT_EQ (config.ledControl, c.led) << c.params;
        EXPECT_EQ (config.restoreControl, c.restore) << c.params;
        EXPECT_EQ (config.maxDevices, c.max) << c.params;
    }
}

TEST_F (Receive, NameAndPinEvents)
{
    EXPECT_EQ (feed ("AA 00 05 21 03 61 62 63 B1"), EventResult::NameReply);
    EXPECT_EQ (name(), "abc");
    EXPECT_EQ (sink.take().back(), "< Ack: aa00021421c9");

    EXPECT_EQ (feed ("AA 00 06 92 01 31 32 33 34 9D"), EventResult::PinReply);
    EXPECT_EQ (pin(), "1234");
    EXPECT_EQ (feed ("AA 00 06 92 00 00 00 00 00 68"), EventResult::PinReply);
    EXPECT_EQ (pin(), "");

    // A 40-byte name keeps its first 32 bytes.
    Bytes f { 0xAA, 0x00, 42, 0x21, 40 };
    f.resize (45, 'n');
    uint8_t sum = 0;
    for (size_t i = 1; i < f.size(); ++i)
        sum = static_cast<uint8_t> (sum + f[i]);
    f.push_back (static_cast<uint8_t> (-sum));
    EXPECT_EQ (feedEvents (job, f.data(), static_cast<int> (f.size())), EventResult::NameReply);
    EXPECT_EQ (name(), std::string (32, 'n'));
}

TEST_F (Receive, PairedRecordsGoToTheDebuggerOutput)
{
    CaptureStderr();
    EXPECT_EQ (feed ("AA 00 10 1F 02  01 A1 A2 A3 A4 A5 A6  0C 0B 1B 2B 3B 4B 5B  BB"), EventResult::PairedRecords);
    EXPECT_EQ (GetCapturedStderr(),
               "APP_UART_EVT_1F_READ_PAIRED_DEVICE_RECORD_REPLY\n"
               "01 a1a2a3a4a5a6\n"
               "12 0b1b2b3b4b5b\n");
    EXPECT_EQ (sink.take().back(), "< Ack: aa0002141fcb");
}

// Events shorter than their decoding reads: only the bytes of the frame count.
TEST_F (Receive, ShortEventsReadNothingBeyondTheFrame)
{
    std::memcpy (job.link.device.config.pin, "9876", 5);
    job.link.device.config.stereo = 1;
    job.link.device.typeCode = 0x42;

    struct Case { const char* frame; EventResult result; };
    const Case cases[] = {
        { "AA 00 02 00 35 C9",          EventResult::None },  // acknowledgement without status
        { "AA 00 02 90 00 6E",          EventResult::None },  // type without type code
        { "AA 00 03 90 01 05 67",       EventResult::None },  // version without minor
        { "AA 00 05 91 00 00 00 00 6A", EventResult::None },  // four settings of five
        { "AA 00 04 92 01 31 32 06",    EventResult::None },  // PIN with two digits
    };
    for (const auto& c : cases)
    {
        CaptureStderr();
        EXPECT_EQ (feed (c.frame), c.result) << c.frame;
        EXPECT_EQ (GetCapturedStderr(), "") << c.frame;
    }
    EXPECT_EQ (pin(), "9876");
    EXPECT_EQ (job.link.device.config.stereo, 1);
    EXPECT_EQ (job.link.device.typeCode, 0x42);
    EXPECT_EQ (job.link.device.reportedTypeCode, 0);
    EXPECT_EQ (job.link.device.reportedVersionMajor, 0);

    // A name announced longer than the frame: only the bytes present.
    EXPECT_EQ (feed ("AA 00 04 21 0A 61 62 0E"), EventResult::NameReply);
    EXPECT_EQ (name(), "ab");

    // More records announced than the frame carries: only the whole records.
    CaptureStderr();
    EXPECT_EQ (feed ("AA 00 0B 1F 05  01 A1 A2 A3 A4 A5 A6  01 02  F8"), EventResult::PairedRecords);
    EXPECT_EQ (GetCapturedStderr(), "APP_UART_EVT_1F_READ_PAIRED_DEVICE_RECORD_REPLY\n01 a1a2a3a4a5a6\n");
}

TEST_F (Receive, ResetDiscardsPartialFramesAndBufferedBytes)
{
    EXPECT_EQ (feed ("AA 00 03 90 00"), EventResult::None);
    pollEvents (job, true);
    EXPECT_EQ (feed ("F0 7D"), EventResult::None);
    EXPECT_TRUE (sink.take().empty());

    EXPECT_EQ (feed ("AA 00 03 90 00 F0 7D  AA 00 03 90 00 F2 7B"), EventResult::TypeReply);
    pollEvents (job, true);
    EXPECT_EQ (feed (""), EventResult::None) << "the second frame was discarded";
}

TEST_F (Receive, ChunkThatDoesNotFitIsDroppedWhole)
{
    Bytes big (1024, 0x00);
    EXPECT_EQ (feedEvents (job, big.data(), 1024), EventResult::None);
    EXPECT_TRUE (job.link.rx.isEmpty());
    Bytes fits (1023, 0x00);
    feedEvents (job, fits.data(), 1023);
    EXPECT_TRUE (job.link.rx.isEmpty()) << "consumed by the assembler";
}

TEST (ByteRing, Limits)
{
    static uint8_t storage[1024];
    ByteRing ring (storage, 1024);
    Bytes block (1024, 0x11);
    EXPECT_FALSE (ring.append (block.data(), 1024));
    EXPECT_TRUE (ring.isEmpty());
    EXPECT_TRUE (ring.append (block.data(), 1023));
    EXPECT_EQ (ring.held(), 1023);
    EXPECT_FALSE (ring.append (block.data(), 1));

    // Wrapping keeps the order.
    ring.clear();
    Bytes seq (1000);
    for (size_t i = 0; i < seq.size(); ++i)
        seq[i] = static_cast<uint8_t> (i * 7);
    ASSERT_TRUE (ring.append (seq.data(), 1000));
    for (int i = 0; i < 1000; ++i)
        ring.take();
    ASSERT_TRUE (ring.append (seq.data(), 1000));
    EXPECT_EQ (ring.held(), 1000);
    for (size_t i = 0; i < seq.size(); ++i)
        ASSERT_EQ (ring.take(), seq[i]) << i;
    EXPECT_TRUE (ring.isEmpty());

    static uint8_t small[10];
    ByteRing queue (small, 10);
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE (queue.append (small, 1));
    EXPECT_FALSE (queue.append (small, 1)) << "a ring of 10 holds 9";
}

// ---- HCI ----

TEST_F (Receive, HciIdentity)
{
    EXPECT_EQ (pollHciEvents (job, true), EventResult::None);
    EXPECT_EQ (job.link.waitTicks, 200);
    EXPECT_EQ (feedHci ("04 0E 0B 01 29 FC 00 07 BA 04 4D 43 48 50"), EventResult::IdentityBlock);
    EXPECT_EQ (job.link.hciReply[6], 4);
    EXPECT_EQ (std::memcmp (job.link.hciReply + 7, "MCHP", 4), 0);
    EXPECT_TRUE (sink.take().empty()) << "HCI events are neither traced nor acknowledged";
}

TEST_F (Receive, HciEvents)
{
    struct Case { const char* bytes; EventResult result; };
    const Case cases[] = {
        { "04 0E 04 01 27 FC 00",                   EventResult::WriteAck },
        { "04 0E 04 01 27 FC 12",                   EventResult::Rejected },
        { "04 0E 04 02 27 FC 00",                   EventResult::Rejected },
        { "04 0E 04 01 03 0C 00",                   EventResult::Rejected }, // other opcode
        { "04 0E 0B 01 29 FC 00 07 BA 05 4D 43 48 50", EventResult::Rejected }, // d != L - 7
        { "04 0E 08 01 29 FC 00 01 23 01 00",       EventResult::Rejected }, // unknown location
        { "04 0E 08 01 29 FC 00 05 00 01 20",       EventResult::Rejected }, // name length 32
        { "04 0E 07 01 29 FC 00 05 00 00",          EventResult::Rejected }, // name record without data
        { "04 0E 07 01 29 FC 00 00 B5 00",          EventResult::Rejected }, // switch without data
        { "04 0E 06 01 29 FC 00 07 BA",             EventResult::Rejected }, // no data length
        { "04 0E 03 01 29 FC",                      EventResult::Rejected },
        { "04 0E 00",                               EventResult::Rejected }, // length 0
        { "04 0F 04 01 27 FC 00",                   EventResult::None },     // not Command Complete
        { "01 0E 04 01 27 FC 00",                   EventResult::None },     // no packet indicator yet
    };
    for (const auto& c : cases)
    {
        fresh();
        EXPECT_EQ (feedHci (c.bytes), c.result) << c.bytes;
    }
}

TEST_F (Receive, HciLengthZeroLeavesNoStaleParameters)
{
    EXPECT_EQ (feedHci ("04 0E 0B 01 29 FC 00 07 BA 04 4D 43 48 50"), EventResult::IdentityBlock);
    EXPECT_EQ (feedHci ("04 0E 00"), EventResult::Rejected);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ (job.link.hciReply[i], 0) << i;
}

TEST_F (Receive, HciConfigBlocks)
{
    auto& hci = job.link.device.hciConfig;
    EXPECT_EQ (feedHci ("04 0E 0C 01 29 FC 00 05 00 05 04 61 62 63 64"), EventResult::NameBlock);
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.name), "abcd");
    EXPECT_EQ (feedHci ("04 0E 0C 01 29 FC 00 05 00 05 04 61 00 63 64"), EventResult::NameBlock);
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.name), "a") << "stops at a zero byte";
    EXPECT_EQ (feedHci ("04 0E 0A 01 29 FC 00 05 00 03 09 78 79"), EventResult::NameBlock);
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.name), "xy") << "only the bytes present";

    EXPECT_EQ (feedHci ("04 0E 0B 01 29 FC 00 00 47 04 31 32 33 34"), EventResult::PinBlock);
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.pin), "1234");
    EXPECT_EQ (feedHci ("04 0E 08 01 29 FC 00 00 B5 01 82"), EventResult::PinFlagBlock);
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.pin), "1234");
    EXPECT_EQ (feedHci ("04 0E 08 01 29 FC 00 00 B5 01 92"), EventResult::PinFlagBlock);
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.pin), "") << "PIN off reads as empty";

    EXPECT_EQ (feedHci ("04 0E 0B 01 29 FC 00 00 47 04 31 32 00 34"), EventResult::PinBlock);
    EXPECT_STREQ (reinterpret_cast<const char*> (hci.pin), "12");
}

TEST_F (Receive, HciEventsAfterTheFirstNeedNoPacketIndicator)
{
    // The byte after a complete event ends it; the next 0x0E starts another.
    // One event per poll, so its reply is still in hciReply when the caller looks.
    EXPECT_EQ (feedHci ("04 0E 04 01 27 FC 00  04 0E 04 01 27 FC 12"), EventResult::WriteAck);
    EXPECT_EQ (job.link.hciReply[3], 0x00);
    EXPECT_EQ (feedHciEvents (job, nullptr, 0), EventResult::Rejected) << "the later event waits for the next poll";
    EXPECT_EQ (job.link.hciReply[3], 0x12);
    EXPECT_EQ (feedHci ("55 0E 04 01 27 FC 00"), EventResult::WriteAck);

    // Split across polls.
    EXPECT_EQ (feedHci ("04 0E 0B 01 29"), EventResult::None);
    EXPECT_EQ (feedHci ("FC 00 07 BA 04 4D 43"), EventResult::None);
    EXPECT_EQ (feedHci ("48 50"), EventResult::IdentityBlock);

    // An event of 50 parameters or more is abandoned; the receiver waits for the next 0x0E.
    Bytes longEvent { 0x04, 0x0E, 50 };
    longEvent.resize (53, 0x11);
    EXPECT_EQ (feedHciEvents (job, longEvent.data(), static_cast<int> (longEvent.size())), EventResult::None);
    EXPECT_EQ (feedHci ("0E 04 01 27 FC 00"), EventResult::WriteAck);
}
}
