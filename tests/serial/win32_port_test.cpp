// PortTable on Windows, run under Wine: the COM port named by KORVA_TEST_COM
// (a number) is expected to loop every byte written back to the reader.

#include "serial/PortTable.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
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

    int loopbackIndex (const std::string& displayName)
    {
        for (int i = 0; i < portCount(); ++i)
            if (displayName == portDisplayName (i))
                return i;
        return -1;
    }

    std::vector<uint8_t> readBack (int index, size_t count, int* largestChunk)
    {
        std::vector<uint8_t> got;
        const auto deadline = Clock::now() + std::chrono::seconds (15);
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

    /** The line settings left on the port by the last openPort (read after closing it). */
    DCB settingsOf (const std::string& devicePath)
    {
        DCB dcb {};
        dcb.DCBlength = sizeof (dcb);
        const HANDLE h = ::CreateFileA (devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE (h, INVALID_HANDLE_VALUE);
        if (h != INVALID_HANDLE_VALUE)
        {
            EXPECT_TRUE (::GetCommState (h, &dcb));
            ::CloseHandle (h);
        }
        return dcb;
    }

    void expectInvalid (int index)
    {
        SCOPED_TRACE (index);
        uint8_t buf[readChunkSize] = {};
        EXPECT_EQ (openPort (index, 921600), 0);
        EXPECT_EQ (readPort (index, buf), -1);
        EXPECT_EQ (writePort (index, buf, 1), -1);
        EXPECT_EQ (portDeviceName (index), nullptr);
        EXPECT_EQ (portDisplayName (index), nullptr);
        closePort (index);
    }
}

TEST (PortTableWin32, EmptyTableHasNoValidIndex)
{
    resetPortTable();
    EXPECT_EQ (portCount(), 0);
    for (const int index : { -1, 0, 1, maxPorts })
        expectInvalid (index);
}

TEST (PortTableWin32, LoopbackPortRoundTrip)
{
    const char* com = std::getenv ("KORVA_TEST_COM");
    if (com == nullptr || *com == '\0')
        GTEST_SKIP() << "KORVA_TEST_COM names no loopback COM port";

    const std::string display = std::string ("COM") + com;

    resetPortTable();
    ASSERT_GE (enumeratePorts(), 1);
    const int index = loopbackIndex (display);
    ASSERT_GE (index, 0) << display << " not enumerated";
    const std::string devicePath = portDeviceName (index);
    EXPECT_EQ (devicePath, "//./" + display);

    for (const uint32_t rate : { 115200u, 921600u })
    {
        SCOPED_TRACE (rate);
        ASSERT_EQ (openPort (index, rate), 1);
        closePort (index);
        const DCB dcb = settingsOf (devicePath);
        EXPECT_EQ (dcb.BaudRate, rate);
        EXPECT_EQ (dcb.ByteSize, 8);
        EXPECT_EQ (dcb.Parity, NOPARITY);
        EXPECT_EQ (dcb.StopBits, ONESTOPBIT);
        EXPECT_EQ (dcb.fParity, 0u);
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
    EXPECT_EQ (readBack (index, bytes.size(), &largest), bytes);
    EXPECT_LE (largest, readChunkSize);

    closePort (index);
    closePort (index);
    EXPECT_EQ (readPort (index, buf), 0);
    EXPECT_EQ (writePort (index, bytes.data(), 4), 0);

    expectInvalid (-1);
    expectInvalid (portCount());
    resetPortTable();
}
