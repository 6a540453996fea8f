// PortTable on Windows, run under Wine against pseudo-terminals linked as COM
// ports. Each variable names a COM number (scripts/wine-tests.sh sets them):
//   KORVA_TEST_COM         loops every byte written back to the reader
//   KORVA_TEST_HELD_COM    held exclusively by another program
//   KORVA_TEST_HANGUP_COM  hangs up on the first bytes it gets (a pulled adapter)
//   KORVA_TEST_DEAF_COM    never reads, so writes to it stall

#include "serial/PortTable.h"
#include "serial/PortTableWin32.h"
#include "tests/TestResets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>

namespace
{
    using Clock = std::chrono::steady_clock;
    constexpr auto patience = std::chrono::seconds (15);   // generous on a loaded machine
    constexpr int longWaitMs = 60000;

    /** The COM number an environment variable names; 0 when unset. */
    int comFrom (const char* variable)
    {
        const char* value = std::getenv (variable);
        return value != nullptr ? std::atoi (value) : 0;
    }

    /** Table of the given COM numbers, in that order, through the scan of a DOS device list. */
    void useTable (std::initializer_list<int> numbers)
    {
        std::string list;
        for (const int n : numbers)
            list.append ("COM" + std::to_string (n)).push_back ('\0');
        list.push_back ('\0');
        ASSERT_EQ (enumeratePortsFromList (list.data(), list.size()), (int) numbers.size());
    }

    int indexOf (const std::string& displayName)
    {
        for (int i = 0; i < portCount(); ++i)
            if (displayName == portDisplayName (i))
                return i;
        return -1;
    }

    /** Polls readPort alone, so that it is tested without waitPort. */
    std::vector<uint8_t> pollBack (int index, size_t count, int* largestChunk)
    {
        std::vector<uint8_t> got;
        const auto deadline = Clock::now() + patience;
        while (got.size() < count && Clock::now() < deadline)
        {
            uint8_t buf[readChunkSize * 2];
            const int n = readPort (index, buf);
            if (n < 0)
                break;
            *largestChunk = std::max (*largestChunk, n);
            got.insert (got.end(), buf, buf + n);
            if (n == 0)
                std::this_thread::sleep_for (std::chrono::milliseconds (5));
        }
        return got;
    }

    /** Waits for and reads count bytes as a job does; stops early on anything but bytes. */
    std::vector<uint8_t> receive (int index, size_t count)
    {
        std::vector<uint8_t> got;
        const auto deadline = Clock::now() + patience;
        while (got.size() < count && Clock::now() < deadline)
        {
            const PortWait w = waitPort (index, 1000);
            if (w == PortWait::timeout)
                continue;
            EXPECT_EQ (w, PortWait::readable);
            if (w != PortWait::readable)
                break;

            uint8_t buf[readChunkSize];
            const int n = readPort (index, buf);
            EXPECT_GT (n, 0) << "waitPort said readable";
            EXPECT_LE (n, readChunkSize);
            if (n <= 0)
                break;
            got.insert (got.end(), buf, buf + n);
        }
        return got;
    }

    /** Opens the device with a handle of its own, as another program would; INVALID_HANDLE_VALUE when refused. */
    HANDLE openRaw (const std::string& devicePath)
    {
        return ::CreateFileA (devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }

    /** The line settings the driver holds for the device (read with a handle of its own). */
    DCB settingsOf (const std::string& devicePath)
    {
        DCB dcb {};
        dcb.DCBlength = sizeof (dcb);
        const HANDLE h = openRaw (devicePath);
        EXPECT_NE (h, INVALID_HANDLE_VALUE);
        if (h != INVALID_HANDLE_VALUE)
        {
            EXPECT_TRUE (::GetCommState (h, &dcb));
            ::CloseHandle (h);
        }
        return dcb;
    }

    /** Leaves settings on the device as an earlier program could have. */
    void leaveSettings (const std::string& devicePath, const std::function<void (DCB&)>& change)
    {
        const HANDLE h = openRaw (devicePath);
        ASSERT_NE (h, INVALID_HANDLE_VALUE);
        DCB dcb {};
        dcb.DCBlength = sizeof (dcb);
        EXPECT_TRUE (::GetCommState (h, &dcb));
        change (dcb);
        EXPECT_TRUE (::SetCommState (h, &dcb));
        ::CloseHandle (h);
    }

    void expectInvalid (int index)
    {
        SCOPED_TRACE (index);
        uint8_t buf[readChunkSize] = {};
        EXPECT_EQ (openPort (index, 921600), 0);
        EXPECT_EQ (lastOpenError().fault, PortFault::noSuchEntry);
        EXPECT_EQ (readPort (index, buf), -1);
        EXPECT_EQ (writePort (index, buf, 1), -1);
        EXPECT_EQ (waitPort (index, 0), PortWait::lost);
        EXPECT_TRUE (portLost (index));
        EXPECT_EQ (portDeviceName (index), nullptr);
        EXPECT_EQ (portDisplayName (index), nullptr);
        closePort (index);
    }

    /** An entry that is not open: lost, nothing read, written or waited for. */
    void expectClosed (int index)
    {
        SCOPED_TRACE (index);
        uint8_t buf[readChunkSize] = {};
        EXPECT_TRUE (portLost (index));
        EXPECT_EQ (readPort (index, buf), 0);
        EXPECT_EQ (writePort (index, buf, 4), 0);
        EXPECT_EQ (waitPort (index, 0), PortWait::lost);
    }

    /** Every byte value, with the ones a line discipline or flow control would
        act on (XON, XOFF, NUL, LF, CR, 0xFF) first and repeated. */
    std::vector<uint8_t> linePayload()
    {
        std::vector<uint8_t> bytes { 0x11, 0x13, 0x00, 0x0A, 0x0D, 0xFF, 0x13, 0x13, 0x11, 0x0D, 0x0A, 0x00 };
        for (int round = 0; round < 2; ++round)
            for (int b = 0; b < 256; ++b)
                bytes.push_back ((uint8_t) (round == 0 ? b : 255 - b));
        return bytes;
    }

    /** Runs action on another thread after a pause; joined when it goes out of scope. */
    struct Later
    {
        std::thread thread;

        Later (std::chrono::milliseconds delay, std::function<void()> action)
            : thread ([delay, action] { std::this_thread::sleep_for (delay); action(); }) {}

        ~Later() { thread.join(); }
    };

    /** Fixture on one of the ports the script provides, alone in the table. */
    class ScriptPort : public ::testing::Test
    {
    protected:
        int openScriptPort (const char* variable, uint32_t rate = 921600)
        {
            const int com = comFrom (variable);
            if (com <= 0)
                return -1;
            resetPortTable();
            useTable ({ com });
            devicePath = portDeviceName (0);
            EXPECT_EQ (openPort (0, rate), 1) << variable << " COM" << com;
            return 0;
        }

        void TearDown() override
        {
            clearPortInterrupt();
            resetPortTable();
        }

        std::string devicePath;
    };

    class Loopback : public ScriptPort
    {
    protected:
        void SetUp() override
        {
            if (openScriptPort ("KORVA_TEST_COM") < 0)
                GTEST_SKIP() << "KORVA_TEST_COM names no loopback COM port";
        }
    };
}

TEST (PortTableWin32, EmptyTableHasNoValidIndex)
{
    resetPortTable();
    EXPECT_EQ (portCount(), 0);
    for (const int index : { -1, 0, 1, maxPorts })
        expectInvalid (index);
}

TEST (PortTableWin32, AddedPortsJoinTheTableOnceAndOpen)
{
    const int com = comFrom ("KORVA_TEST_COM");
    if (com <= 0)
        GTEST_SKIP() << "KORVA_TEST_COM names no loopback COM port";

    const std::string display = "COM" + std::to_string (com);

    // Named by the user, to an empty table: added, found again in any spelling.
    resetPortTable();
    const int index = addPort (display.c_str());
    ASSERT_EQ (index, 0);
    EXPECT_EQ (addPort (("\\\\.\\" + display).c_str()), 0);
    EXPECT_STREQ (portDisplayName (index), display.c_str());
    ASSERT_EQ (openPort (index, 115200), 1);
    closePort (index);

    // Already listed by the enumeration: its entry is used.
    ASSERT_GE (enumeratePorts(), 1);
    EXPECT_EQ (addPort (display.c_str()), indexOf (display));

    EXPECT_EQ (addPort ("/dev/ttyUSB0"), -1);
    EXPECT_EQ (addPort ("COM0"), -1);
    resetPortTable();
}

TEST (PortTableWin32, LoopbackPortRoundTrip)
{
    const int com = comFrom ("KORVA_TEST_COM");
    if (com <= 0)
        GTEST_SKIP() << "KORVA_TEST_COM names no loopback COM port";

    const std::string display = "COM" + std::to_string (com);

    resetPortTable();
    ASSERT_GE (enumeratePorts(), 1);
    const int index = indexOf (display);
    ASSERT_GE (index, 0) << display << " not enumerated";
    const std::string devicePath = portDeviceName (index);
    EXPECT_EQ (devicePath, "//./" + display);

    for (const uint32_t rate : { 115200u, 921600u })
    {
        SCOPED_TRACE (rate);
        ASSERT_EQ (openPort (index, rate), 1);
        EXPECT_EQ (lastOpenError().fault, PortFault::none);
        EXPECT_FALSE (portLost (index));
        closePort (index);
        expectClosed (index);

        const DCB dcb = settingsOf (devicePath);
        EXPECT_EQ (dcb.BaudRate, rate);
        EXPECT_EQ (dcb.ByteSize, 8);
        EXPECT_EQ (dcb.Parity, NOPARITY);
        EXPECT_EQ (dcb.StopBits, ONESTOPBIT);
        EXPECT_EQ (dcb.fParity, 0u);
        EXPECT_EQ (dcb.fOutX, 0u);
        EXPECT_EQ (dcb.fInX, 0u);
        EXPECT_EQ (dcb.fOutxCtsFlow, 0u);
        EXPECT_EQ (dcb.fOutxDsrFlow, 0u);
    }

    ASSERT_EQ (openPort (index, 921600), 1);
    ASSERT_EQ (openPort (index, 921600), 1);   // reopening an open entry

    uint8_t buf[readChunkSize];
    EXPECT_EQ (readPort (index, buf), 0);

    std::vector<uint8_t> bytes (600);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = (uint8_t) (i * 7 + i / 256);
    EXPECT_EQ (writePort (index, bytes.data(), (int) bytes.size()), (int) bytes.size());

    int largest = 0;
    EXPECT_EQ (pollBack (index, bytes.size(), &largest), bytes);
    EXPECT_LE (largest, readChunkSize);

    closePort (index);
    closePort (index);
    expectClosed (index);

    expectInvalid (-1);
    expectInvalid (portCount());
    resetPortTable();
}

TEST_F (Loopback, BytesPassUnchangedWhateverAnEarlierProgramLeftOnTheLine)
{
    struct LeftOver
    {
        const char* what;
        std::function<void (DCB&)> change;
    };

    const std::vector<LeftOver> leftOvers {
        { "nothing",                  [] (DCB&) {} },
        { "XON/XOFF flow control",    [] (DCB& d) { d.fOutX = 1; d.fInX = 1; d.fTXContinueOnXoff = 0; } },
        { "hardware handshaking",     [] (DCB& d) { d.fOutxCtsFlow = 1; d.fOutxDsrFlow = 1; d.fDsrSensitivity = 1;
                                                    d.fRtsControl = RTS_CONTROL_HANDSHAKE; d.fDtrControl = DTR_CONTROL_HANDSHAKE; } },
    };

    const std::vector<uint8_t> packet = linePayload();

    for (const auto& left : leftOvers)
    {
        SCOPED_TRACE (left.what);
        closePort (0);
        leaveSettings (devicePath, left.change);
        ASSERT_EQ (openPort (0, 921600), 1);

        EXPECT_EQ (writePort (0, packet.data(), (int) packet.size()), (int) packet.size());
        EXPECT_EQ (receive (0, packet.size()), packet);
        EXPECT_EQ (waitPort (0, 0), PortWait::timeout) << "more came back than was sent";

        // What the driver holds now, as far as a pty can hold it.
        closePort (0);
        const DCB now = settingsOf (devicePath);
        EXPECT_EQ (now.BaudRate, 921600u);
        EXPECT_EQ (now.ByteSize, 8);
        EXPECT_EQ (now.Parity, NOPARITY);
        EXPECT_EQ (now.fOutX, 0u);
        EXPECT_EQ (now.fInX, 0u);
        EXPECT_EQ (now.fOutxCtsFlow, 0u);
        EXPECT_EQ (now.fOutxDsrFlow, 0u);
        EXPECT_EQ (now.fDtrControl, (DWORD) DTR_CONTROL_ENABLE);
        EXPECT_EQ (now.fRtsControl, (DWORD) RTS_CONTROL_ENABLE);
    }
}

TEST_F (Loopback, OpenDiscardsBytesLeftFromBefore)
{
    const uint8_t late[] = { 0xAA, 0x00, 0x02, 0x01, 0x00, 0xFD };
    ASSERT_EQ (writePort (0, late, (int) sizeof (late)), (int) sizeof (late));
    ASSERT_EQ (waitPort (0, 10000), PortWait::readable);

    ASSERT_EQ (openPort (0, 921600), 1);
    EXPECT_EQ (waitPort (0, 200), PortWait::timeout);
}

TEST_F (Loopback, WaitTellsBytesFromAQuietLine)
{
    // Looking only, and waiting out a short time, on a quiet line.
    EXPECT_EQ (waitPort (0, 0), PortWait::timeout);
    EXPECT_EQ (waitPort (0, 200), PortWait::timeout);

    // Bytes already back when the wait starts, read whole and in order.
    const std::vector<uint8_t> ping { 'A', 'B', 'C' };
    ASSERT_EQ (writePort (0, ping.data(), (int) ping.size()), (int) ping.size());
    EXPECT_EQ (receive (0, ping.size()), ping);
    EXPECT_EQ (waitPort (0, 0), PortWait::timeout);

    // Bytes that arrive while a long wait is in progress end it.
    const std::vector<uint8_t> pong { 0x13, 0x11, 0x00 };
    const auto start = Clock::now();
    {
        Later writer (std::chrono::milliseconds (200), [&] { EXPECT_EQ (writePort (0, pong.data(), (int) pong.size()), 3); });
        EXPECT_EQ (waitPort (0, longWaitMs), PortWait::readable);
    }
    EXPECT_LT (Clock::now() - start, patience);
    EXPECT_EQ (receive (0, pong.size()), pong);
    EXPECT_FALSE (portLost (0));
}

TEST_F (Loopback, ManyExchangesEachWaitedFor)
{
    // A job waiting for every acknowledgement of a transfer: the byte a wait
    // reads ahead must come out first, every time.
    std::vector<uint8_t> packet (17);
    const auto start = Clock::now();
    constexpr int exchanges = 300;
    for (int i = 0; i < exchanges; ++i)
    {
        for (size_t j = 0; j < packet.size(); ++j)
            packet[j] = (uint8_t) (i * 31 + j);
        ASSERT_EQ (writePort (0, packet.data(), (int) packet.size()), (int) packet.size());
        ASSERT_EQ (receive (0, packet.size()), packet) << "exchange " << i;
    }
    const auto perExchange = std::chrono::duration_cast<std::chrono::microseconds> (Clock::now() - start) / exchanges;
    RecordProperty ("microseconds_per_exchange", std::to_string (perExchange.count()));
}

TEST_F (Loopback, InterruptionEndsWaitsUntilCleared)
{
    EXPECT_FALSE (portWaitsInterrupted());

    const auto start = Clock::now();
    {
        Later interrupter (std::chrono::milliseconds (200), [] { interruptPortWaits(); });
        EXPECT_EQ (waitPort (0, longWaitMs), PortWait::interrupted);
    }
    EXPECT_LT (Clock::now() - start, patience);
    EXPECT_TRUE (portWaitsInterrupted());

    // It stays: later waits end at once, even with bytes waiting, and nothing is written.
    const uint8_t bytes[] = { 1, 2, 3 };
    EXPECT_EQ (writePort (0, bytes, 3), 0);
    EXPECT_EQ (waitPort (0, longWaitMs), PortWait::interrupted);
    EXPECT_EQ (waitPort (0, 0), PortWait::interrupted);
    EXPECT_LT (Clock::now() - start, patience);

    clearPortInterrupt();
    EXPECT_FALSE (portWaitsInterrupted());
    EXPECT_EQ (waitPort (0, 100), PortWait::timeout);

    // Bytes that came back during an interrupted wait are still there after it.
    ASSERT_EQ (writePort (0, bytes, 3), 3);
    interruptPortWaits();
    std::this_thread::sleep_for (std::chrono::milliseconds (100));
    EXPECT_EQ (waitPort (0, 1000), PortWait::interrupted);
    clearPortInterrupt();
    EXPECT_EQ (receive (0, 3), std::vector<uint8_t> (bytes, bytes + 3));
    EXPECT_FALSE (portLost (0));
}

TEST (PortTableWin32, OpenFailuresSayWhy)
{
    const int loopback = comFrom ("KORVA_TEST_COM");
    const int held = comFrom ("KORVA_TEST_HELD_COM");
    constexpr int absent = 999;

    struct OpenCase
    {
        const char* what;
        int com;          // 0: not provided here; -1: no entry
        PortFault fault;
    };

    const std::vector<OpenCase> cases {
        { "no port chosen",                -1,       PortFault::noSuchEntry },
        { "COM number that does not exist", absent,  PortFault::gone },
        { "held by another program",       held,     PortFault::busy },
        { "free port",                     loopback, PortFault::none },
    };

    resetPortTable();
    enumeratePorts();
    ASSERT_EQ (indexOf ("COM" + std::to_string (absent)), -1) << "the system has COM" << absent;
    useTable ({ absent, held > 0 ? held : absent, loopback > 0 ? loopback : absent });

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        if (c.com == 0)
        {
            std::printf ("not provided here: %s\n", c.what);
            continue;
        }

        const int index = c.com < 0 ? -1 : indexOf ("COM" + std::to_string (c.com));
        const int opened = openPort (index, 115200);
        const PortOpenError error = lastOpenError();
        EXPECT_EQ (error.fault, c.fault);
        EXPECT_STREQ (error.holder, "");

        if (c.fault == PortFault::none)
        {
            EXPECT_EQ (opened, 1);
            EXPECT_EQ (error.systemError, 0);
            EXPECT_FALSE (portLost (index));
            closePort (index);
        }
        else
        {
            EXPECT_EQ (opened, 0);
            if (c.fault != PortFault::noSuchEntry)
            {
                EXPECT_NE (error.systemError, 0);
            }
        }

        if (index >= 0)
            expectClosed (index);
    }

    resetPortTable();
}

TEST_F (ScriptPort, DeviceHangingUpIsLost)
{
    if (openScriptPort ("KORVA_TEST_HANGUP_COM") < 0)
        GTEST_SKIP() << "KORVA_TEST_HANGUP_COM names no port";

    EXPECT_FALSE (portLost (0));
    const uint8_t frame[] = { 0xAA, 0x00, 0x02, 0x01, 0x00, 0xFD };
    ASSERT_EQ (writePort (0, frame, (int) sizeof (frame)), (int) sizeof (frame));

    const auto start = Clock::now();
    PortWait w = PortWait::timeout;
    while (w == PortWait::timeout && Clock::now() - start < patience)
        w = waitPort (0, longWaitMs);
    EXPECT_EQ (w, PortWait::lost);
    EXPECT_TRUE (portLost (0));

    // For good: reads, writes and waits all end at once.
    uint8_t buf[readChunkSize];
    EXPECT_EQ (readPort (0, buf), 0);
    EXPECT_EQ (writePort (0, frame, (int) sizeof (frame)), 0);
    EXPECT_EQ (waitPort (0, longWaitMs), PortWait::lost);
    EXPECT_LT (Clock::now() - start, patience);

    closePort (0);
    expectClosed (0);
}

TEST_F (ScriptPort, WriteToADeviceThatNeverReadsGivesUp)
{
    if (openScriptPort ("KORVA_TEST_DEAF_COM") < 0)
        GTEST_SKIP() << "KORVA_TEST_DEAF_COM names no port";

    const std::vector<uint8_t> flood (1024 * 1024, 0x5A);

    // Stops after writeStallLimitMs without progress, with what it wrote.
    auto start = Clock::now();
    const int written = writePort (0, flood.data(), (int) flood.size());
    EXPECT_GT (written, 0);
    EXPECT_LT (written, (int) flood.size());
    EXPECT_LT (Clock::now() - start, patience);
    EXPECT_TRUE (portLost (0)) << "a torn packet leaves the line unusable for the job";

    // Interrupted while stalled: ends well before the stall limit would end it.
    // (Closing discarded the output the device never took, so the line takes
    // some bytes again before it stalls.)
    closePort (0);
    ASSERT_EQ (openPort (0, 921600), 1);
    start = Clock::now();
    {
        Later interrupter (std::chrono::milliseconds (200), [] { interruptPortWaits(); });
        EXPECT_LT (writePort (0, flood.data(), (int) flood.size()), (int) flood.size());
    }
    EXPECT_LT (Clock::now() - start, std::chrono::milliseconds (writeStallLimitMs));

    // And while interrupted, nothing is tried at all.
    EXPECT_EQ (writePort (0, flood.data(), 1), 0);
    clearPortInterrupt();
}
