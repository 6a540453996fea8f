// The receive step reading from a real port: a pty pair stands in for the
// serial line, its master playing the module.

#include "ProtocolTestSupport.h"
#include "PtySupport.h"

#include "protocol/DeviceState.h"
#include "protocol/EventReceiver.h"
#include "protocol/HciReceiver.h"
#include "tests/TestResets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace
{
class PollOnPty : public testing::Test
{
protected:
    void SetUp() override
    {
        master = ::posix_openpt (O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE (master, 0);
        ASSERT_EQ (::grantpt (master), 0);
        ASSERT_EQ (::unlockpt (master), 0);
        char name[128];
        ASSERT_EQ (::ptsname_r (master, name, sizeof (name)), 0);
        index = registerPort (name);
        ASSERT_GE (index, 0);
        ASSERT_EQ (openPort (index, 921600), 1);
        job = std::make_unique<TestJob> (index);
        sink.attach (job->link);
    }

    void TearDown() override
    {
        resetPortTable();
        if (master >= 0)
            ::close (master);
    }

    void moduleSends (const Bytes& bytes)
    {
        ASSERT_EQ (::write (master, bytes.data(), bytes.size()), static_cast<ssize_t> (bytes.size()));
    }

    Bytes moduleReceives (size_t want)
    {
        Bytes got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (5);
        uint8_t buffer[512];
        while (got.size() < want && std::chrono::steady_clock::now() < end)
        {
            const ssize_t n = ::read (master, buffer, sizeof (buffer));
            if (n > 0)
                got.insert (got.end(), buffer, buffer + n);
            else
                std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
        return got;
    }

    /** Polls until a result other than None or the deadline. */
    template <typename Poll>
    EventResult pollUntilResult (Poll poll)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (5);
        EventResult r = EventResult::None;
        while (r == EventResult::None && std::chrono::steady_clock::now() < end)
        {
            r = poll (*job, false);
            if (r == EventResult::None)
                std::this_thread::sleep_for (std::chrono::milliseconds (2));
        }
        return r;
    }

    int master = -1;
    int index = -1;
    std::unique_ptr<TestJob> job;
    RecordingSink sink;
};

TEST_F (PollOnPty, EventIsReadDecodedAndAcknowledgedOnThePort)
{
    pollEvents (*job, true);
    moduleSends (hexBytes ("AA 00 03 90 00 F0 7D"));
    EXPECT_EQ (pollUntilResult (pollEvents), EventResult::TypeReply);
    EXPECT_EQ (job->link.device.reportedTypeCode, 0xF0);
    EXPECT_EQ (moduleReceives (6), hexBytes ("AA 00 02 14 90 5A"));
}

TEST_F (PollOnPty, BurstLongerThanOneReadIsDecodedOneFramePerPoll)
{
    pollEvents (*job, true);
    Bytes burst;
    for (int i = 0; i < 60; ++i) // 60 x 7 bytes, more than one 256-byte read
    {
        const Bytes f = hexBytes ("AA 00 03 90 00 F2 7B");
        burst.insert (burst.end(), f.begin(), f.end());
    }
    moduleSends (burst);
    int decoded = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (5);
    while (decoded < 60 && std::chrono::steady_clock::now() < end)
        if (pollEvents (*job, false) == EventResult::TypeReply)
            ++decoded;
    EXPECT_EQ (decoded, 60);
    EXPECT_EQ (moduleReceives (360).size(), 360u) << "one acknowledgement per event";
}

// More than the receive ring holds arrives at once: the poll reads only what
// fits and leaves the rest in the driver, so every event is decoded.
TEST_F (PollOnPty, BurstLongerThanTheRingLosesNothing)
{
    pollEvents (*job, true);
    constexpr int events = 300;   // 2100 bytes against a 1024-byte ring
    Bytes burst;
    for (int i = 0; i < events; ++i)
    {
        const Bytes f = hexBytes ("AA 00 03 90 00 F2 7B");
        burst.insert (burst.end(), f.begin(), f.end());
    }
    moduleSends (burst);
    int decoded = 0;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (5);
    while (decoded < events && std::chrono::steady_clock::now() < end)
        if (pollEvents (*job, false) == EventResult::TypeReply)
            ++decoded;
    EXPECT_EQ (decoded, events);
    EXPECT_EQ (moduleReceives (events * 6).size(), size_t (events * 6)) << "one acknowledgement per event";
}

TEST_F (PollOnPty, HciEventFromThePort)
{
    pollHciEvents (*job, true);
    moduleSends (hexBytes ("04 0E 0B 01 29 FC 00 07 BA 04 4D 43 48 50"));
    EXPECT_EQ (pollUntilResult (pollHciEvents), EventResult::IdentityBlock);
}

TEST_F (PollOnPty, InvalidPortIndexReadsNothing)
{
    TestJob noPort (255);
    moduleSends (hexBytes ("AA 00 03 90 00 F0 7D"));
    std::this_thread::sleep_for (std::chrono::milliseconds (20));
    EXPECT_EQ (pollEvents (noPort, false), EventResult::None);
    EXPECT_EQ (pollHciEvents (noPort, false), EventResult::None);
    EXPECT_EQ (pollUntilResult (pollEvents), EventResult::TypeReply) << "bytes stayed on the port";
}

TEST_F (PollOnPty, HangUpMidFrameIsHarmless)
{
    pollEvents (*job, true);
    moduleSends (hexBytes ("AA 00 03"));
    std::this_thread::sleep_for (std::chrono::milliseconds (20));
    EXPECT_EQ (pollEvents (*job, false), EventResult::None);
    ::close (master);
    master = -1;
    for (int i = 0; i < 5; ++i)
    {
        EXPECT_EQ (pollEvents (*job, false), EventResult::None);
        EXPECT_EQ (pollHciEvents (*job, false), EventResult::None);
    }
}
}
