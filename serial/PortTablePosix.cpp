// PortTable on Linux/POSIX: ports are found in sysfs without opening anything,
// opened exclusively (flock + TIOCEXCL), set to raw 8N1 with non-blocking reads.

#include "serial/PortTable.h"
#include "serial/PortHolder.h"
#include "serial/PortTablePosix.h"
#include "serial/BluezBus.h"
#include "serial/BluezText.h"

#include <sys/sysmacros.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#if defined(__linux__)
 #include <linux/serial.h>
#endif

namespace
{
    constexpr int pathCapacity = 256;


    struct Entry
    {
        char path[pathCapacity];
        std::atomic<int> fd;          // exchanged on close, so a descriptor is closed exactly once
        std::atomic<bool> gone;       // the device hung up or vanished while open
        uint64_t identity;            // of the device the last opening found
        termios before;               // the line settings found on opening, given back on closing
        bool pty;                     // a pseudo-terminal, whose other end is the receiver's own program
        bool bluetooth;               // the open descriptor is a Bluetooth socket from BlueZ, not a tty
    };

    struct Table
    {
        Entry entries[maxPorts];
        int count = 0;
    };

    Table& table()
    {
        static Table instance;
        return instance;
    }

    bool validIndex (int index)
    {
        return index >= 0 && index < table().count;
    }

    bool exists (const std::string& path)
    {
        struct stat st;
        return ::stat (path.c_str(), &st) == 0;
    }

    bool linkExists (const std::string& path)
    {
        struct stat st;
        return ::lstat (path.c_str(), &st) == 0;
    }

    bool startsWith (const char* s, const char* prefix)
    {
        return std::strncmp (s, prefix, std::strlen (prefix)) == 0;
    }

    /** A ttyS whose sysfs type is 0 is a placeholder the 8250 driver registers for
        every possible UART, present or not. */
    bool isPlaceholderUart (const std::string& ttyDir, const char* name)
    {
        if (! startsWith (name, "ttyS"))
            return false;

        const std::string typePath = ttyDir + "/type";
        FILE* f = std::fopen (typePath.c_str(), "r");
        if (f == nullptr)
            return false;

        int type = -1;
        const bool read = std::fscanf (f, "%d", &type) == 1;
        std::fclose (f);
        return read && type == 0;
    }

    /** sysfs entries worth listing: real devices behind a driver, minus the
        placeholder UARTs, plus rfcomm bindings (which have no device link until
        connected). */
    bool isListedTty (const std::string& classDir, const char* name)
    {
        if (name[0] == '.')
            return false;

        if (startsWith (name, "rfcomm"))
            return true;

        const std::string ttyDir = classDir + "/" + name;
        return linkExists (ttyDir + "/device") && ! isPlaceholderUart (ttyDir, name);
    }

    /** How long a close waits for queued output to leave before discarding it. */
    constexpr long long closeDrainLimitMs = 200;

    long long nowMs()
    {
        timespec ts;
        ::clock_gettime (CLOCK_MONOTONIC, &ts);
        return (long long) ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
    }

    bool outputQueued (int fd)
    {
        int queued = 0;
        return ::ioctl (fd, TIOCOUTQ, &queued) == 0 && queued > 0;
    }

    void closeFd (Entry& e)
    {
        const int fd = e.fd.exchange (-1);
        if (fd < 0)
            return;

        if (e.bluetooth)
        {
            // A socket has no output queue to drain or lock to drop; BlueZ is
            // told the connection ended, so the link goes down at once.
            ::close (fd);
            e.gone = false;
            std::string address;
            if (bluetoothAddressOf (e.path, address))
                BluezBus::instance().disconnect (address);
            return;
        }

        // A line that stopped taking bytes (a stalled UART, USB adapter or RFCOMM
        // link) would hold close() for the driver's drain limit, up to 30 s. A
        // moving line gets a moment to send what is queued (a last acknowledgement);
        // what is still queued after it is discarded. An empty queue is left alone:
        // on a pty, flushing would discard what the other side has not read yet.
        if (outputQueued (fd))
        {
            const long long until = nowMs() + closeDrainLimitMs;
            while (outputQueued (fd) && nowMs() < until)
                ::usleep (1000);
            if (outputQueued (fd))
                ::tcflush (fd, TCOFLUSH);
        }
        // The line as it was found: another program (a getty, a terminal
        // program started later) gets back the rate and modes it expects. Not
        // a pty: its other end is the receiver's own program, and giving the
        // pty back its cooked modes loses the last bytes written to it (the
        // closing acknowledgement) and echoes the receiver's bytes back to it.
        if (! e.pty)
            ::tcsetattr (fd, TCSANOW, &e.before);
        ::ioctl (fd, TIOCNXCL);
        ::flock (fd, LOCK_UN);
        ::close (fd);
        e.gone = false;
    }

    uint64_t identityOf (const struct stat& st)
    {
        // The node's device and inode, and the device it stands for: a node made
        // again for a re-plugged adapter or rebound link differs in one of them.
        uint64_t h = 1469598103934665603ull;
        for (const uint64_t v : { (uint64_t) st.st_dev, (uint64_t) st.st_ino, (uint64_t) st.st_rdev })
            h = (h ^ v) * 1099511628211ull;
        return h != 0 ? h : 1;
    }

    speed_t speedFor (uint32_t baudRate)
    {
        switch (baudRate)
        {
            case 9600:    return B9600;
            case 19200:   return B19200;
            case 38400:   return B38400;
            case 57600:   return B57600;
            case 115200:  return B115200;
            case 230400:  return B230400;
           #ifdef B460800
            case 460800:  return B460800;
           #endif
           #ifdef B921600
            case 921600:  return B921600;
           #endif
           #ifdef B1000000
            case 1000000: return B1000000;
           #endif
            default:      return B0;
        }
    }

    bool configure (int fd, speed_t speed)
    {
        termios tio;
        if (::tcgetattr (fd, &tio) != 0)
            return false;

        ::cfmakeraw (&tio);
        tio.c_cflag &= ~(tcflag_t) (CSIZE | PARENB | CSTOPB | CRTSCTS | HUPCL);
        tio.c_cflag |= CS8 | CLOCAL | CREAD;
        tio.c_iflag &= ~(tcflag_t) (IXON | IXOFF | IXANY);
        tio.c_cc[VMIN] = 0;
        tio.c_cc[VTIME] = 0;

        if (::cfsetispeed (&tio, speed) != 0 || ::cfsetospeed (&tio, speed) != 0)
            return false;

        if (::tcsetattr (fd, TCSANOW, &tio) != 0)
            return false;

        // tcsetattr succeeds when any part of the change took: check it all did.
        termios now;
        if (::tcgetattr (fd, &now) != 0)
            return false;

        const tcflag_t badC = PARENB | CSTOPB | CRTSCTS;
        const tcflag_t badI = IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | BRKINT | PARMRK | INPCK;
        const tcflag_t badL = ICANON | ECHO | ECHONL | ISIG | IEXTEN;

        return ::cfgetospeed (&now) == speed
            && ::cfgetispeed (&now) == speed
            && (now.c_cflag & CSIZE) == CS8
            && (now.c_cflag & badC) == 0
            && (now.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD)
            && (now.c_iflag & badI) == 0
            && (now.c_oflag & OPOST) == 0
            && (now.c_lflag & badL) == 0
            && now.c_cc[VMIN] == 0
            && now.c_cc[VTIME] == 0;
    }

    /** Ask the UART driver not to batch received bytes; ptys and many
        adapters refuse, which is fine. */
    void requestLowLatency (int fd)
    {
       #if defined(__linux__) && defined(TIOCGSERIAL) && defined(ASYNC_LOW_LATENCY)
        serial_struct ss;
        if (::ioctl (fd, TIOCGSERIAL, &ss) == 0)
        {
            ss.flags |= ASYNC_LOW_LATENCY;
            ::ioctl (fd, TIOCSSERIAL, &ss);
        }
       #else
        (void) fd;
       #endif
    }

    bool hungUp (short revents)
    {
        return (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
    }

    bool deviceLost (int error)
    {
        return error == EIO || error == ENXIO || error == ENODEV || error == EBADF
            || error == EPIPE || error == ECONNRESET || error == ENOTCONN || error == ECONNABORTED
            || error == EHOSTDOWN || error == ETIMEDOUT;
    }

    //==========================================================================
    // Interrupting waits: a sticky flag, and a self-pipe that wakes a poll at once.
    std::atomic<bool> waitsInterrupted { false };

    struct WakePipe
    {
        int readFd = -1, writeFd = -1;

        WakePipe()
        {
            int fds[2];
            if (::pipe (fds) != 0)
                return;
            for (int fd : fds)
            {
                ::fcntl (fd, F_SETFL, ::fcntl (fd, F_GETFL) | O_NONBLOCK);
                ::fcntl (fd, F_SETFD, FD_CLOEXEC);
            }
            readFd = fds[0];
            writeFd = fds[1];
        }

        void poke() const
        {
            if (writeFd >= 0)
            {
                const char b = 1;
                (void) ! ::write (writeFd, &b, 1);
            }
        }

        void drain() const
        {
            char buffer[64];
            while (readFd >= 0 && ::read (readFd, buffer, sizeof (buffer)) > 0) {}
        }
    };

    // Created once and never closed, so any thread may poke it at any time.
    const WakePipe& wakePipe()
    {
        static const WakePipe instance;
        return instance;
    }

    // Per thread: jobs on several ports open them at once.
    PortOpenError& openError()
    {
        static thread_local PortOpenError instance;
        return instance;
    }

    /** poll() on fd and the wake pipe; woken tells whether the wake pipe fired. */
    int pollWithWake (int fd, short events, int timeoutMs, short& revents, bool& woken)
    {
        pollfd p[2] = { { fd, events, 0 }, { wakePipe().readFd, POLLIN, 0 } };
        const int r = ::poll (p, wakePipe().readFd >= 0 ? 2 : 1, timeoutMs);
        revents = p[0].revents;
        woken = r > 0 && (p[1].revents & POLLIN) != 0;
        return r;
    }

    PortFault faultFor (int error)
    {
        switch (error)
        {
            case EACCES: case EPERM:                      return PortFault::permission;
            case EBUSY: case EWOULDBLOCK:                 return PortFault::busy;
            case ENOENT: case ENXIO: case ENODEV: case EIO: return PortFault::gone;
            case EISDIR: case ENOTTY:                     return PortFault::notSerial;
            default:                                      return PortFault::other;
        }
    }

    /** The program that holds path open; "" when unknown. */
    void findHolder (const char* path, char* out, size_t size)
    {
        std::snprintf (out, size, "%s", portHolder (path).c_str());
    }

    int failOpen (PortFault fault, int error, const char* path = nullptr)
    {
        PortOpenError& e = openError();
        e = PortOpenError {};
        e.fault = fault;
        e.systemError = error;
        if (fault == PortFault::busy && path != nullptr)
            findHolder (path, e.holder, sizeof (e.holder));
        return 0;
    }

}

bool naturalLess (const char* a, const char* b)
{
    while (*a != '\0' && *b != '\0')
    {
        const bool da = *a >= '0' && *a <= '9';
        const bool db = *b >= '0' && *b <= '9';

        if (da && db)
        {
            // Compare the digit runs by value: skip leading zeros, then the
            // longer run is the larger number, equal lengths compare as text.
            while (*a == '0') ++a;
            while (*b == '0') ++b;
            const char* ea = a;
            const char* eb = b;
            while (*ea >= '0' && *ea <= '9') ++ea;
            while (*eb >= '0' && *eb <= '9') ++eb;

            if (ea - a != eb - b)
                return ea - a < eb - b;

            const int c = std::strncmp (a, b, (size_t) (ea - a));
            if (c != 0)
                return c < 0;

            a = ea;
            b = eb;
            continue;
        }

        if (*a != *b)
            return (unsigned char) *a < (unsigned char) *b;

        ++a;
        ++b;
    }

    return *a == '\0' && *b != '\0';
}

int enumeratePortsIn (const char* sysClassTty, const char* devDir, const char* extraPorts)
{
    std::vector<std::string> paths;

    try
    {
        const std::string classDir (sysClassTty);
        std::vector<std::string> names;

        if (DIR* dir = ::opendir (sysClassTty))
        {
            while (const dirent* d = ::readdir (dir))
                if (isListedTty (classDir, d->d_name))
                    names.emplace_back (d->d_name);

            ::closedir (dir);
        }

        std::sort (names.begin(), names.end(),
                   [] (const std::string& x, const std::string& y) {
                       // Names equal by value (ttyS1, ttyS01) still get one fixed order.
                       if (naturalLess (x.c_str(), y.c_str())) return true;
                       if (naturalLess (y.c_str(), x.c_str())) return false;
                       return x < y;
                   });

        for (const auto& name : names)
            paths.push_back (std::string (devDir) + "/" + name);

        if (extraPorts != nullptr)
        {
            const std::string list (extraPorts);
            size_t start = 0;

            while (start <= list.size())
            {
                size_t end = list.find (':', start);
                if (end == std::string::npos)
                    end = list.size();

                std::string path = list.substr (start, end - start);
                start = end + 1;

                // Only devices present now: a pty whose owner went away drops out.
                if (! path.empty() && exists (path)
                     && std::find (paths.begin(), paths.end(), path) == paths.end())
                    paths.push_back (std::move (path));
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        return 0;
    }

    closeAllPorts();

    Table& t = table();
    t.count = 0;

    for (const auto& path : paths)
    {
        if (t.count >= maxPorts)
            break;

        if (path.size() >= (size_t) pathCapacity)
            continue;   // cannot be named in an entry; such paths do not occur in /dev

        Entry& e = t.entries[t.count++];
        std::memcpy (e.path, path.c_str(), path.size() + 1);
        e.fd = -1;
        e.gone = false;
        e.identity = 0;
        e.bluetooth = false;
    }

    return t.count;
}

int enumeratePorts()
{
    const int count = enumeratePortsIn ("/sys/class/tty", "/dev", std::getenv (extraPortsVariable));

    // Paired receivers that offer a serial port follow the ttys, by address. The
    // list is BlueZ's, kept current by its signals: this only reads a copy.
    for (const auto& device : BluezBus::instance().pairedSerialDevices())
        addPort (bluetoothPortName (device.address).c_str());

    return std::max (count, portCount());
}

int addPort (const char* name)
{
    Table& t = table();

    if (name == nullptr || name[0] == '\0' || std::strlen (name) >= (size_t) pathCapacity)
        return -1;

    for (int i = 0; i < t.count; ++i)
        if (std::strcmp (t.entries[i].path, name) == 0)
            return i;

    if (t.count >= maxPorts)
        return -1;

    Entry& e = t.entries[t.count];
    std::memcpy (e.path, name, std::strlen (name) + 1);
    e.fd = -1;
    e.gone = false;
    e.identity = 0;
    e.bluetooth = false;
    return t.count++;
}

int portCount()
{
    return table().count;
}

// On POSIX the device path is also what the user sees.
const char* portDeviceName (int index)
{
    return validIndex (index) ? table().entries[index].path : nullptr;
}

const char* portDisplayName (int index)
{
    return validIndex (index) ? table().entries[index].path : nullptr;
}

namespace
{
    /** The entry whose Bluetooth link is coming up, null for none. */
    std::atomic<const Entry*> connectingEntry { nullptr };

    /** A paired receiver: BlueZ connects its serial port and hands over the socket,
        which is the port from then on. A socket has no baud rate or line settings. */
    int openBluetooth (Entry& e, const std::string& address)
    {
        connectingEntry = &e;
        const auto link = BluezBus::instance().connect (address, bluetoothConnectLimitMs,
                                                        [] { return waitsInterrupted.load(); });
        connectingEntry = nullptr;
        if (link.fd < 0)
        {
            failOpen (link.fault, 0);
            std::snprintf (openError().holder, sizeof (openError().holder), "%s", link.detail.c_str());
            return 0;
        }

        uint64_t h = 1469598103934665603ull;
        for (const char c : address)
            h = (h ^ (uint8_t) c) * 1099511628211ull;

        e.bluetooth = true;
        e.gone = false;
        e.identity = h != 0 ? h : 1;
        e.fd = link.fd;
        openError() = PortOpenError {};
        return 1;
    }
}

int openPort (int index, uint32_t baudRate)
{
    if (! validIndex (index))
        return failOpen (PortFault::noSuchEntry, 0);

    Entry& e = table().entries[index];

    std::string address;
    if (bluetoothAddressOf (e.path, address))
    {
        closeFd (e);
        return openBluetooth (e, address);
    }

    // Asked before an open descriptor of ours is closed, so that a port being
    // opened again never goes unheld meanwhile (its other end may take that as
    // the line going down).
    const auto holder = portHolder (e.path);
    closeFd (e);

    const speed_t speed = speedFor (baudRate);
    if (speed == B0)
        return failOpen (PortFault::baudRefused, EINVAL);

    // Only a character device can be a serial line. Opening a FIFO or a file
    // would block or succeed and then talk to something that is no receiver.
    struct stat st;
    if (::stat (e.path, &st) == 0 && ! S_ISCHR (st.st_mode))
        return failOpen (PortFault::notSerial, S_ISDIR (st.st_mode) ? EISDIR : ENOTTY);

    // A program that holds the port without a lock (a terminal program, a getty,
    // a script) is not surprised by a probe and a new baud rate: the port is busy.
    if (! holder.empty())
    {
        failOpen (PortFault::busy, EBUSY);
        std::snprintf (openError().holder, sizeof (openError().holder), "%s", holder.c_str());
        return 0;
    }

    const int fd = ::open (e.path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
    {
        const int error = errno;
        return failOpen (faultFor (error), error, e.path);
    }

    if (::fstat (fd, &st) != 0 || ! S_ISCHR (st.st_mode) || ! ::isatty (fd))
    {
        const int error = errno;
        ::close (fd);
        return failOpen (PortFault::notSerial, error != 0 ? error : ENOTTY);
    }

    // flock keeps out other cooperating programs (and root, which TIOCEXCL does not).
    if (::flock (fd, LOCK_EX | LOCK_NB) != 0)
    {
        const int error = errno;
        ::close (fd);
        return failOpen (error == EWOULDBLOCK ? PortFault::busy : faultFor (error), error, e.path);
    }

    ::ioctl (fd, TIOCEXCL);
    const bool saved = ::tcgetattr (fd, &e.before) == 0;

    if (! saved || ! configure (fd, speed))
    {
        const int error = errno;
        // Tell a refused baud rate (some adapters stop at 460800) from other settings.
        const bool slowerTakes = saved && speed != B115200 && configure (fd, B115200);
        if (saved)
            ::tcsetattr (fd, TCSANOW, &e.before);
        ::ioctl (fd, TIOCNXCL);
        ::close (fd);
        return failOpen (slowerTakes ? PortFault::baudRefused : PortFault::settingsRefused, error);
    }

    requestLowLatency (fd);

    // A job starts from a quiet line: bytes left over from an earlier job (a
    // late acknowledgement, say) would otherwise be taken as answers to this one.
    ::tcflush (fd, TCIFLUSH);

    e.bluetooth = false;
    e.pty = major (st.st_rdev) >= 136 && major (st.st_rdev) <= 143;    // Unix98 pty slaves
    e.gone = false;
    e.identity = identityOf (st);
    e.fd = fd;
    openError() = PortOpenError {};
    return 1;
}

int readPort (int index, uint8_t* buffer, int maxBytes)
{
    if (! validIndex (index))
        return -1;

    Entry& e = table().entries[index];
    const int fd = e.fd.load();
    if (fd < 0 || e.gone || buffer == nullptr || maxBytes <= 0)
        return 0;

    // With VMIN = VTIME = 0 a tty read returns 0 both for "nothing yet" and for a
    // hung-up line; poll tells them apart.
    pollfd p { fd, POLLIN, 0 };
    if (::poll (&p, 1, 0) < 0)
        return 0;

    if ((p.revents & POLLIN) != 0)
    {
        const ssize_t n = ::read (fd, buffer, (size_t) std::min (maxBytes, readChunkSize));
        if (n > 0)
            return (int) n;

        if ((n < 0 && deviceLost (errno)) || (n == 0 && e.bluetooth))
            e.gone = true;   // a socket reads 0 only once its peer has closed
    }

    if (hungUp (p.revents))
        e.gone = true;

    return 0;
}

int writePort (int index, const uint8_t* bytes, int count)
{
    if (! validIndex (index))
        return -1;

    Entry& e = table().entries[index];
    const int fd = e.fd.load();
    if (fd < 0 || e.gone || bytes == nullptr || count <= 0 || waitsInterrupted.load())
        return 0;

    int done = 0;
    long long lastProgress = nowMs();

    while (done < count)
    {
        // A socket whose peer went away must fail the write, not raise SIGPIPE.
        const ssize_t n = e.bluetooth ? ::send (fd, bytes + done, (size_t) (count - done), MSG_NOSIGNAL)
                                      : ::write (fd, bytes + done, (size_t) (count - done));

        if (n > 0)
        {
            done += (int) n;
            lastProgress = nowMs();
            continue;
        }

        if (n < 0 && errno == EINTR)
            continue;

        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
        {
            if (deviceLost (errno))
                e.gone = true;
            break;
        }

        // Output queue full: wait for room, but not forever, and not past an
        // interruption (the job is being stopped).
        const long long left = writeStallLimitMs - (nowMs() - lastProgress);
        if (left <= 0 || waitsInterrupted.load())
            break;

        short revents = 0;
        bool woken = false;
        const int r = pollWithWake (fd, POLLOUT, (int) std::min (left, 100LL), revents, woken);
        if (r < 0 && errno != EINTR)
            break;

        if (r > 0 && hungUp (revents))
            break;
    }

    // Part of a packet on the line leaves the receiver's framing torn: the
    // link is not usable for this job any more.
    if (done < count)
        e.gone = true;

    return done;
}

void closePort (int index)
{
    if (validIndex (index))
        closeFd (table().entries[index]);
}

void closeAllPorts()
{
    for (int i = 0; i < table().count; ++i)
        closePort (i);
}

void resetPortTable()
{
    closeAllPorts();
    table().count = 0;
    clearPortInterrupt();
}

//==============================================================================
PortWait waitPort (int index, int timeoutMs)
{
    if (portLost (index))
        return PortWait::lost;

    Entry& e = table().entries[index];
    const long long deadline = nowMs() + std::max (timeoutMs, 0);

    for (;;)
    {
        if (waitsInterrupted.load())
            return PortWait::interrupted;

        const long long left = std::max (deadline - nowMs(), 0LL);
        short revents = 0;
        bool woken = false;
        const int r = pollWithWake (e.fd.load(), POLLIN, (int) std::min (left, (long long) INT32_MAX), revents, woken);

        if (r < 0 && errno != EINTR)
        {
            e.gone = true;
            return PortWait::lost;
        }

        // Bytes that arrived before a hang-up are still read first.
        if ((revents & POLLIN) != 0)
            return PortWait::readable;

        if (hungUp (revents))
        {
            e.gone = true;
            return PortWait::lost;
        }

        if (woken)
        {
            if (waitsInterrupted.load())
                return PortWait::interrupted;
            wakePipe().drain();   // a wake left over from an earlier interruption
        }

        if (r == 0 || nowMs() >= deadline)
            return PortWait::timeout;
    }
}

bool portConnecting (int index)
{
    return validIndex (index) && connectingEntry.load() == &table().entries[index];
}

bool portLost (int index)
{
    if (! validIndex (index))
        return true;
    const Entry& e = table().entries[index];
    return e.fd < 0 || e.gone;
}

void interruptPortWaits()
{
    waitsInterrupted.store (true);
    wakePipe().poke();
    BluezBus::wakeConnecting();   // a Bluetooth link coming up
}

void clearPortInterrupt()
{
    waitsInterrupted.store (false);
    wakePipe().drain();
}

bool portWaitsInterrupted()
{
    return waitsInterrupted.load();
}

uint64_t portDeviceIdentity (int index)
{
    return validIndex (index) ? table().entries[index].identity : 0;
}

PortOpenError lastOpenError()
{
    return openError();
}

int latencyTimerMsIn (const char* usbSerialDir, const char* ttyName)
{
    const std::string sysPath = std::string (usbSerialDir) + "/" + ttyName + "/latency_timer";
    FILE* f = std::fopen (sysPath.c_str(), "r");
    if (f == nullptr)
        return -1;

    int ms = -1;
    if (std::fscanf (f, "%d", &ms) != 1)
        ms = -1;
    std::fclose (f);
    return ms;
}

int portLatencyTimerMs (int index)
{
    if (portLost (index))
        return -1;

    // The entry may be a symlink (by-id names, the simulator's link): sysfs
    // knows the device by its own name.
    char device[PATH_MAX];
    if (::realpath (table().entries[index].path, device) == nullptr)
        return -1;

    const char* base = std::strrchr (device, '/');
    return latencyTimerMsIn ("/sys/bus/usb-serial/devices", base != nullptr ? base + 1 : device);
}
