// PortTable on POSIX, against real pseudo-terminal pairs: the test holds the
// master side, the table opens the slave as its port.

#include "serial/PortTable.h"
#include "serial/PortTablePosix.h"
#include "tests/TestResets.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
    using Clock = std::chrono::steady_clock;
    constexpr auto patience = std::chrono::seconds (10);   // generous on a loaded machine

    /** A pty pair; the test keeps the master, the slave path is the port. */
    struct Pty
    {
        int master = -1;
        std::string slave;

        Pty()
        {
            master = ::posix_openpt (O_RDWR | O_NOCTTY | O_CLOEXEC);
            if (master < 0 || ::grantpt (master) != 0 || ::unlockpt (master) != 0)
                return;
            char name[128];
            if (::ptsname_r (master, name, sizeof (name)) == 0)
                slave = name;
            ::fcntl (master, F_SETFL, ::fcntl (master, F_GETFL) | O_NONBLOCK);
        }

        ~Pty() { closeMaster(); }

        void closeMaster()
        {
            if (master >= 0)
                ::close (master);
            master = -1;
        }

        void send (const std::vector<uint8_t>& bytes) const
        {
            size_t done = 0;
            while (done < bytes.size())
            {
                const ssize_t n = ::write (master, bytes.data() + done, bytes.size() - done);
                if (n > 0)
                    done += (size_t) n;
                else
                    ASSERT_TRUE (n < 0 && errno == EAGAIN) << std::strerror (errno);
            }
        }

        std::vector<uint8_t> receive (size_t count) const
        {
            std::vector<uint8_t> got;
            const auto deadline = Clock::now() + patience;
            while (got.size() < count && Clock::now() < deadline)
            {
                pollfd p { master, POLLIN, 0 };
                if (::poll (&p, 1, 100) <= 0)
                    continue;
                uint8_t buf[4096];
                const ssize_t n = ::read (master, buf, sizeof (buf));
                if (n > 0)
                    got.insert (got.end(), buf, buf + n);
            }
            return got;
        }
    };

    /** Every byte value, twice and more: line-discipline characters must pass untouched. */
    std::vector<uint8_t> binaryPayload (size_t size)
    {
        std::vector<uint8_t> bytes (size);
        for (size_t i = 0; i < size; ++i)
            bytes[i] = (uint8_t) ((i * 7 + i / 256) & 0xFF);
        return bytes;
    }

    int openFdCount()
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator ("/proc/self/fd"))
            ++n;
        return n;
    }

    /** The process's own descriptor open on path, to inspect what openPort set. */
    int fdOpenOn (const std::string& path)
    {
        for (const auto& e : fs::directory_iterator ("/proc/self/fd"))
        {
            std::error_code ec;
            if (fs::read_symlink (e.path(), ec) == path)
                return std::stoi (e.path().filename().string());
        }
        return -1;
    }

    /** True when another program could take the device's lock now. */
    bool lockIsFree (const std::string& path)
    {
        const int fd = ::open (path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return false;
        const bool free = ::flock (fd, LOCK_EX | LOCK_NB) == 0;
        ::close (fd);
        return free;
    }

    /** Reads through the table until count bytes arrived or patience ran out. */
    std::vector<uint8_t> readAll (int index, size_t count, int* largestChunk)
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

    /** A scratch directory removed again at the end of the test. */
    struct TempDir
    {
        fs::path path;

        TempDir()
        {
            char tmpl[] = "/tmp/korva-serial-XXXXXX";
            path = ::mkdtemp (tmpl);
        }

        ~TempDir()
        {
            std::error_code ec;
            fs::remove_all (path, ec);
        }

        /** A tty class entry; device links point at a fake device directory. */
        void addTty (const std::string& name, bool withDevice, const char* type = nullptr) const
        {
            fs::create_directories (path / "class" / name);
            if (withDevice)
            {
                fs::create_directories (path / "devices" / name);
                fs::create_directory_symlink (path / "devices" / name, path / "class" / name / "device");
            }
            if (type != nullptr)
                std::ofstream (path / "class" / name / "type") << type << "\n";
        }

        std::string classDir() const { return (path / "class").string(); }
    };

    std::vector<std::string> listedNames()
    {
        std::vector<std::string> names;
        for (int i = 0; i < portCount(); ++i)
        {
            EXPECT_STREQ (portDeviceName (i), portDisplayName (i));
            names.emplace_back (portDisplayName (i));
        }
        return names;
    }

    /** A table holding one pty (no sysfs ports, so the machine's own ports do not interfere). */
    class PtyPort : public ::testing::Test
    {
    protected:
        Pty pty;

        void SetUp() override
        {
            ASSERT_GE (pty.master, 0);
            ASSERT_FALSE (pty.slave.empty());
            resetPortTable();
            ASSERT_EQ (enumeratePortsIn ("/nonexistent/sys/class/tty", "/dev", pty.slave.c_str()), 1);
        }

        void TearDown() override { resetPortTable(); }
    };
}

TEST_F (PtyPort, OpensAtBothRatesRawEightNOneNonBlocking)
{
    for (const uint32_t rate : { 115200u, 921600u })
    {
        SCOPED_TRACE (rate);
        ASSERT_EQ (openPort (0, rate), 1);

        const int fd = fdOpenOn (pty.slave);
        ASSERT_GE (fd, 0);

        termios tio;
        ASSERT_EQ (::tcgetattr (fd, &tio), 0);
        const speed_t speed = rate == 115200u ? B115200 : B921600;
        EXPECT_EQ (::cfgetospeed (&tio), speed);
        EXPECT_EQ (::cfgetispeed (&tio), speed);
        EXPECT_EQ (tio.c_cflag & CSIZE, (tcflag_t) CS8);
        EXPECT_EQ (tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
        EXPECT_EQ (tio.c_cflag & (CLOCAL | CREAD), (tcflag_t) (CLOCAL | CREAD));
        EXPECT_EQ (tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK), 0u);
        EXPECT_EQ (tio.c_oflag & OPOST, 0u);
        EXPECT_EQ (tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ (tio.c_cc[VMIN], 0);
        EXPECT_EQ (tio.c_cc[VTIME], 0);

        EXPECT_NE (::fcntl (fd, F_GETFL) & O_NONBLOCK, 0);
        EXPECT_NE (::fcntl (fd, F_GETFD) & FD_CLOEXEC, 0);

        closePort (0);
        EXPECT_EQ (fdOpenOn (pty.slave), -1);
    }
}

TEST_F (PtyPort, RefusesRatesItCannotSet)
{
    EXPECT_EQ (openPort (0, 12345), 0);
    EXPECT_EQ (lastOpenError().fault, PortFault::baudRefused);
    EXPECT_EQ (openPort (0, 0), 0);
    EXPECT_EQ (fdOpenOn (pty.slave), -1);
}

// Why an open failed, kept so the user can be told what to do.
TEST_F (PtyPort, FailedOpensSayWhy)
{
    TempDir dir;
    const std::string link = (dir.path / "receiver").string();
    fs::create_symlink (pty.slave, link);
    ASSERT_EQ (enumeratePortsIn ("/nonexistent", "/dev", (pty.slave + ":" + link).c_str()), 2);

    EXPECT_EQ (openPort (7, 921600), 0);
    EXPECT_EQ (lastOpenError().fault, PortFault::noSuchEntry);

    ASSERT_EQ (openPort (0, 921600), 1);
    EXPECT_EQ (lastOpenError().fault, PortFault::none);
    EXPECT_EQ (openPort (1, 921600), 0) << "the same device under another name";
    EXPECT_EQ (lastOpenError().fault, PortFault::busy);
    closePort (0);

    fs::remove (link);
    EXPECT_EQ (openPort (1, 921600), 0);
    EXPECT_EQ (lastOpenError().fault, PortFault::gone);
    EXPECT_EQ (lastOpenError().systemError, ENOENT);
}

TEST_F (PtyPort, WaitTellsBytesSilenceLossAndInterruption)
{
    ASSERT_EQ (openPort (0, 921600), 1);
    EXPECT_FALSE (portLost (0));
    EXPECT_EQ (waitPort (0, 0), PortWait::timeout);
    EXPECT_EQ (waitPort (0, 30), PortWait::timeout);

    pty.send ({ 0x42 });
    EXPECT_EQ (waitPort (0, 5000), PortWait::readable);
    uint8_t buf[readChunkSize];
    EXPECT_EQ (readPort (0, buf), 1);

    // Another thread's interruption wakes a long wait at once, and holds until cleared.
    std::thread waker ([] { std::this_thread::sleep_for (std::chrono::milliseconds (50)); interruptPortWaits(); });
    const auto start = Clock::now();
    EXPECT_EQ (waitPort (0, 60000), PortWait::interrupted);
    EXPECT_LT (Clock::now() - start, patience);
    waker.join();
    EXPECT_TRUE (portWaitsInterrupted());
    EXPECT_EQ (waitPort (0, 60000), PortWait::interrupted);
    clearPortInterrupt();
    EXPECT_EQ (waitPort (0, 10), PortWait::timeout);

    // A hang-up: bytes already there are read first, then the port is lost.
    pty.send ({ 0x43 });
    pty.closeMaster();
    EXPECT_EQ (waitPort (0, 5000), PortWait::readable);
    (void) readPort (0, buf);
    EXPECT_EQ (waitPort (0, 5000), PortWait::lost);
    EXPECT_TRUE (portLost (0));

    closePort (0);
    EXPECT_TRUE (portLost (0)) << "a closed entry counts as lost";
    EXPECT_EQ (waitPort (0, 60000), PortWait::lost);
    EXPECT_EQ (waitPort (-1, 60000), PortWait::lost);
}

TEST_F (PtyPort, OpenIsExclusive)
{
    // Another program holding the device: the open fails and leaves the entry closed.
    const int other = ::open (pty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE (other, 0);
    ASSERT_EQ (::flock (other, LOCK_EX | LOCK_NB), 0);
    EXPECT_EQ (openPort (0, 921600), 0);
    EXPECT_EQ (fdOpenOn (pty.slave), other);
    ::close (other);

    // While the table holds it, nobody else gets it; after closing, they do.
    ASSERT_EQ (openPort (0, 921600), 1);
    EXPECT_FALSE (lockIsFree (pty.slave));
    closePort (0);
    EXPECT_TRUE (lockIsFree (pty.slave));
}

TEST_F (PtyPort, SameDeviceUnderAnotherNameIsExclusiveToo)
{
    TempDir dir;
    const std::string link = (dir.path / "receiver").string();
    fs::create_symlink (pty.slave, link);
    ASSERT_EQ (enumeratePortsIn ("/nonexistent", "/dev", (pty.slave + ":" + link).c_str()), 2);

    ASSERT_EQ (openPort (0, 115200), 1);
    EXPECT_EQ (openPort (1, 115200), 0);
    closePort (0);
    EXPECT_EQ (openPort (1, 115200), 1);
}

TEST_F (PtyPort, ReadWithNothingReceivedReturnsZeroAtOnce)
{
    ASSERT_EQ (openPort (0, 921600), 1);

    uint8_t buf[readChunkSize];
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ (readPort (0, buf), 0);
    EXPECT_LT (Clock::now() - start, patience);   // would take forever if a read blocked

    // An idle pty must not be taken for a vanished one: data still comes through.
    pty.send ({ 0x01, 0x02, 0x03 });
    int largest = 0;
    EXPECT_EQ (readAll (0, 3, &largest), (std::vector<uint8_t> { 0x01, 0x02, 0x03 }));
}

TEST_F (PtyPort, BytesPassBothWaysUntouchedInChunksOfAtMost256)
{
    ASSERT_EQ (openPort (0, 921600), 1);

    const auto in = binaryPayload (1000);
    pty.send (in);
    int largest = 0;
    EXPECT_EQ (readAll (0, in.size(), &largest), in);
    EXPECT_EQ (largest, readChunkSize);

    const auto out = binaryPayload (3000);
    EXPECT_EQ (writePort (0, out.data(), (int) out.size()), (int) out.size());
    EXPECT_EQ (pty.receive (out.size()), out);

    EXPECT_EQ (writePort (0, out.data(), 0), 0);
}

TEST_F (PtyPort, ReopeningAnOpenEntryClosesItFirst)
{
    const int before = openFdCount();
    ASSERT_EQ (openPort (0, 921600), 1);
    // The old descriptor still holding the lock would make this fail.
    ASSERT_EQ (openPort (0, 115200), 1);
    EXPECT_EQ (openFdCount(), before + 1);

    termios tio;
    ASSERT_EQ (::tcgetattr (fdOpenOn (pty.slave), &tio), 0);
    EXPECT_EQ (::cfgetospeed (&tio), (speed_t) B115200);

    closePort (0);
    closePort (0);   // closing a closed entry does nothing
    EXPECT_EQ (openFdCount(), before);
}

TEST (PortTablePosix, FailedOpenLeavesTheEntryClosed)
{
    TempDir dir;
    const std::string notATty = (dir.path / "plain-file").string();
    const std::string vanishing = (dir.path / "vanishing").string();
    std::ofstream (notATty) << "x";
    std::ofstream (vanishing) << "x";

    resetPortTable();
    ASSERT_EQ (enumeratePortsIn ("/nonexistent", "/dev", (notATty + ":" + vanishing).c_str()), 2);
    fs::remove (vanishing);

    const int before = openFdCount();
    uint8_t buf[readChunkSize];
    for (int i = 0; i < 2; ++i)
    {
        EXPECT_EQ (openPort (i, 921600), 0);
        EXPECT_EQ (openFdCount(), before);
        EXPECT_EQ (readPort (i, buf), 0);
        EXPECT_EQ (writePort (i, buf, 4), 0);
        closePort (i);
    }

    EXPECT_TRUE (lockIsFree (notATty));
    resetPortTable();
}

TEST (PortTablePosix, InvalidIndicesAreRejected)
{
    Pty pty;
    resetPortTable();

    for (const int count : { 0, 1 })
    {
        if (count == 1)
        {
            ASSERT_EQ (enumeratePortsIn ("/nonexistent", "/dev", pty.slave.c_str()), 1);
        }

        for (const int index : { -1, count, maxPorts, 1000 })
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

    resetPortTable();
    EXPECT_EQ (portCount(), 0);
}

TEST_F (PtyPort, PeerClosingEndsReadsAndWritesWithoutHanging)
{
    ASSERT_EQ (openPort (0, 921600), 1);
    pty.send ({ 0x55 });
    int largest = 0;
    ASSERT_EQ (readAll (0, 1, &largest).size(), 1u);

    // Held until the end: the pty's number stays taken after its node goes, so
    // a pty another process opens meanwhile cannot take its name.
    const int keeper = ::open (pty.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE (keeper, 0);
    pty.closeMaster();

    uint8_t buf[readChunkSize];
    const uint8_t frame[] = { 0xAA, 0x00, 0x02, 0x01, 0x00, 0xFD };
    for (int i = 0; i < 50; ++i)
    {
        EXPECT_EQ (readPort (0, buf), 0);
        EXPECT_EQ (writePort (0, frame, (int) sizeof (frame)), 0);
    }

    closePort (0);
    EXPECT_EQ (readPort (0, buf), 0);
    EXPECT_EQ (openPort (0, 921600), 0);   // the pty is gone
    ::close (keeper);
}

TEST_F (PtyPort, WriteNobodyReadsGivesUpInsteadOfHanging)
{
    ASSERT_EQ (openPort (0, 921600), 1);
    const std::vector<uint8_t> flood (4 * 1024 * 1024, 0x5A);
    const int written = writePort (0, flood.data(), (int) flood.size());
    EXPECT_GT (written, 0);
    EXPECT_LT (written, (int) flood.size());
    EXPECT_TRUE (portLost (0)) << "a torn packet leaves the line unusable";
}

// Once a job is being stopped, not one more byte reaches the receiver; reads
// still take what arrived, and only as much as the caller has room for.
TEST_F (PtyPort, NothingIsWrittenWhileInterruptedAndReadsTakeOnlyWhatFits)
{
    ASSERT_EQ (openPort (0, 921600), 1);
    const uint8_t packet[] = { 0xAA, 0x00, 0x02, 0x14, 0x01, 0xE9 };

    interruptPortWaits();
    EXPECT_EQ (writePort (0, packet, (int) sizeof (packet)), 0);
    EXPECT_FALSE (portLost (0)) << "a refused write tears nothing";
    clearPortInterrupt();
    EXPECT_EQ (writePort (0, packet, (int) sizeof (packet)), (int) sizeof (packet));

    // From the far side: 100 bytes, taken 10, then the rest, in order.
    std::vector<uint8_t> sent (100);
    for (size_t i = 0; i < sent.size(); ++i)
        sent[i] = (uint8_t) i;
    ASSERT_EQ (::write (pty.master, sent.data(), sent.size()), (ssize_t) sent.size());
    ASSERT_EQ (waitPort (0, 1000), PortWait::readable);

    uint8_t buffer[readChunkSize];
    EXPECT_EQ (readPort (0, buffer, 10), 10);
    std::vector<uint8_t> got (buffer, buffer + 10);
    while (got.size() < sent.size() && waitPort (0, 1000) == PortWait::readable)
    {
        const int n = readPort (0, buffer);
        got.insert (got.end(), buffer, buffer + n);
    }
    EXPECT_EQ (got, sent);
}

TEST_F (PtyPort, StalledWriteEndsAtOnceWhenInterrupted)
{
    ASSERT_EQ (openPort (0, 921600), 1);
    const std::vector<uint8_t> flood (4 * 1024 * 1024, 0x5A);
    std::thread stopper ([] { std::this_thread::sleep_for (std::chrono::milliseconds (100)); interruptPortWaits(); });
    const auto start = Clock::now();
    const int written = writePort (0, flood.data(), (int) flood.size());
    const auto took = Clock::now() - start;
    stopper.join();
    clearPortInterrupt();
    EXPECT_LT (written, (int) flood.size());
    EXPECT_LT (took, std::chrono::milliseconds (writeStallLimitMs)) << "the write waited out its stall limit";
}

TEST (PortTablePosix, EnumeratesSysfsDevicesNaturallyOrdered)
{
    TempDir dir;
    dir.addTty ("ttyUSB10", true);
    dir.addTty ("ttyUSB2", true);
    dir.addTty ("ttyUSB0", true);
    dir.addTty ("ttyACM0", true);
    dir.addTty ("ttyS0", true, "4");       // a real 16550A
    dir.addTty ("ttyS1", true, "0");       // placeholder UART
    dir.addTty ("ttyS10", true, "0");
    dir.addTty ("ttyS2", true);            // no type file: kept
    dir.addTty ("rfcomm0", false);         // bound, not connected
    dir.addTty ("tty0", false);            // virtual console
    dir.addTty ("console", false);
    dir.addTty ("ptmx", false);

    const std::string extra = (dir.path / "sim-pty").string();
    std::ofstream (extra) << "";
    const std::string extras = "/nonexistent/pty::" + extra + ":/devx/ttyUSB0";

    resetPortTable();
    ASSERT_EQ (enumeratePortsIn (dir.classDir().c_str(), "/devx", extras.c_str()), 8);
    const std::vector<std::string> expected {
        "/devx/rfcomm0", "/devx/ttyACM0", "/devx/ttyS0", "/devx/ttyS2",
        "/devx/ttyUSB0", "/devx/ttyUSB2", "/devx/ttyUSB10", extra
    };
    EXPECT_EQ (listedNames(), expected);

    // Stable across enumerations; an extra that vanished drops out.
    ASSERT_EQ (enumeratePortsIn (dir.classDir().c_str(), "/devx", extras.c_str()), 8);
    EXPECT_EQ (listedNames(), expected);
    fs::remove (extra);
    ASSERT_EQ (enumeratePortsIn (dir.classDir().c_str(), "/devx", extras.c_str()), 7);
    EXPECT_EQ (listedNames(), std::vector<std::string> (expected.begin(), expected.end() - 1));

    resetPortTable();
}

TEST (PortTablePosix, ListsAtMost64Ports)
{
    TempDir dir;
    for (int i = 69; i >= 0; --i)
        dir.addTty ("ttyUSB" + std::to_string (i), true);

    resetPortTable();
    ASSERT_EQ (enumeratePortsIn (dir.classDir().c_str(), "/dev", "/dev/null"), maxPorts);
    const auto names = listedNames();
    for (int i = 0; i < maxPorts; ++i)
        EXPECT_EQ (names[(size_t) i], "/dev/ttyUSB" + std::to_string (i));
    resetPortTable();
}

TEST (PortTablePosix, EnumerationClosesOpenPortsAndDropsVanishedPtys)
{
    Pty a, b;
    resetPortTable();
    const std::string extras = a.slave + ":" + b.slave;
    ASSERT_EQ (enumeratePortsIn ("/nonexistent", "/dev", extras.c_str()), 2);

    // Keeps b's number taken once its name goes, so that no pty opened meanwhile
    // elsewhere (tests run side by side) can appear under that name.
    const int keeper = ::open (b.slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE (keeper, 0);
    const int before = openFdCount();
    ASSERT_EQ (openPort (0, 921600), 1);
    ASSERT_EQ (openPort (1, 921600), 1);
    b.closeMaster();

    ASSERT_EQ (enumeratePortsIn ("/nonexistent", "/dev", extras.c_str()), 1);
    EXPECT_STREQ (portDisplayName (0), a.slave.c_str());
    EXPECT_EQ (openFdCount(), before - 1);   // the master of b is closed as well
    EXPECT_TRUE (lockIsFree (a.slave));
    resetPortTable();
    ::close (keeper);
}

TEST (PortTablePosix, ProductionEnumerationAppendsExtraPortsFromTheEnvironment)
{
    Pty pty;
    ::setenv (extraPortsVariable, ("/nonexistent/pty:" + pty.slave).c_str(), 1);
    resetPortTable();
    const int count = enumeratePorts();
    ::unsetenv (extraPortsVariable);

    ASSERT_GE (count, 1);
    EXPECT_STREQ (portDisplayName (count - 1), pty.slave.c_str());
    for (int i = 0; i < count; ++i)
        EXPECT_STRNE (portDisplayName (i), "/nonexistent/pty");
    resetPortTable();
}

TEST (PortTablePosix, AdapterLatencyTimerFromSysfs)
{
    TempDir dir;
    fs::create_directories (dir.path / "ttyUSB0");
    std::ofstream (dir.path / "ttyUSB0" / "latency_timer") << "16\n";
    fs::create_directories (dir.path / "ttyUSB1");
    std::ofstream (dir.path / "ttyUSB1" / "latency_timer") << "1\n";

    EXPECT_EQ (latencyTimerMsIn (dir.path.c_str(), "ttyUSB0"), 16);
    EXPECT_EQ (latencyTimerMsIn (dir.path.c_str(), "ttyUSB1"), 1);
    EXPECT_EQ (latencyTimerMsIn (dir.path.c_str(), "ttyACM0"), -1) << "no such adapter: unknown";
    EXPECT_EQ (portLatencyTimerMs (-1), -1);
}

TEST (PortTablePosix, NaturalOrder)
{
    const std::vector<std::pair<const char*, const char*>> ordered {
        { "ttyS2", "ttyS10" }, { "ttyACM0", "ttyS0" }, { "ttyS9", "ttyUSB0" },
        { "ttyUSB", "ttyUSB0" }, { "ttyUSB01", "ttyUSB2" }, { "rfcomm0", "ttyACM0" },
    };
    for (const auto& [lo, hi] : ordered)
    {
        EXPECT_TRUE (naturalLess (lo, hi)) << lo << " < " << hi;
        EXPECT_FALSE (naturalLess (hi, lo)) << hi << " < " << lo;
    }
    EXPECT_FALSE (naturalLess ("ttyS1", "ttyS1"));
}

TEST (PortTablePosix, AddedPortsJoinTheTableOnceAndOpenLikeListedOnes)
{
    Pty a, b;
    resetPortTable();
    ASSERT_EQ (enumeratePortsIn ("/nonexistent", "/dev", a.slave.c_str()), 1);

    EXPECT_EQ (addPort (a.slave.c_str()), 0) << "a listed port keeps its entry";
    ASSERT_EQ (addPort (b.slave.c_str()), 1);
    EXPECT_EQ (addPort (b.slave.c_str()), 1);
    EXPECT_EQ (portCount(), 2);
    EXPECT_STREQ (portDeviceName (1), b.slave.c_str());
    ASSERT_EQ (openPort (1, 115200), 1);
    closePort (1);

    const int missing = addPort ("/nonexistent/tty");
    ASSERT_EQ (missing, 2);
    EXPECT_EQ (openPort (missing, 115200), 0);
    EXPECT_EQ (lastOpenError().fault, PortFault::gone);

    EXPECT_EQ (addPort (""), -1);
    EXPECT_EQ (addPort (nullptr), -1);
    EXPECT_EQ (addPort (std::string (300, 'x').c_str()), -1);
    resetPortTable();
}
