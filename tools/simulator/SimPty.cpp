#include "tools/simulator/SimPty.h"

#include <cstdlib>

#include <cstring>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace korvasim
{

namespace
{
uint32_t baudOf (speed_t s)
{
    switch (s)
    {
        case B9600:    return 9600;
        case B19200:   return 19200;
        case B38400:   return 38400;
        case B57600:   return 57600;
        case B115200:  return 115200;
        case B230400:  return 230400;
        case B460800:  return 460800;
        case B921600:  return 921600;
        default:       return 0;
    }
}
} // namespace

bool SimPty::open (const std::string& linkPath)
{
    close();
    const int m = ::posix_openpt (O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (m < 0)
        return false;
    char name[128] = {};
    if (::grantpt (m) != 0 || ::unlockpt (m) != 0 || ::ptsname_r (m, name, sizeof (name)) != 0)
    {
        ::close (m);
        return false;
    }

    // Holding the slave open keeps its line settings between the tool's opens and
    // spares the master the hang-up state while no one has the port open.
    const int slave = ::open (name, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (slave < 0)
    {
        ::close (m);
        return false;
    }
    termios tio;
    if (::tcgetattr (slave, &tio) == 0)
    {
        ::cfmakeraw (&tio);
        ::cfsetispeed (&tio, B9600);
        ::cfsetospeed (&tio, B9600);
        ::tcsetattr (slave, TCSANOW, &tio);
    }

    master = m;
    slaveHold = slave;
    slaveName = name;
    link = linkPath;
    if (! link.empty())
    {
        ::unlink (link.c_str());
        if (::symlink (name, link.c_str()) != 0)
        {
            close();
            return false;
        }
    }
    return true;
}

bool SimPty::listen (const std::string& path, uint32_t lineBaud)
{
    close();
    sockaddr_un address {};
    if (path.size() >= sizeof (address.sun_path))
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy (address.sun_path, path.c_str(), path.size() + 1);

    const int fd = ::socket (AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::unlink (path.c_str());
    if (::bind (fd, (const sockaddr*) &address, sizeof (address)) != 0 || ::listen (fd, 4) != 0)
    {
        ::close (fd);
        return false;
    }
    listener = fd;
    socketBaud = lineBaud;
    slaveName = path;
    link = path;   // removed on close, like the pty's symlink
    return true;
}

void SimPty::acceptConnection()
{
    if (listener < 0 || master >= 0)
        return;
    master = ::accept4 (listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
}

bool SimPty::dropConnection()
{
    if (listener < 0)
        return false;
    if (master >= 0)
        ::close (master);
    master = -1;
    return true;
}

void SimPty::close()
{
    if (master >= 0)
        ::close (master);
    if (slaveHold >= 0)
        ::close (slaveHold);
    if (listener >= 0)
        ::close (listener);
    master = slaveHold = listener = -1;
    socketBaud = 0;
    if (! link.empty())
        ::unlink (link.c_str());
}

uint32_t SimPty::baud() const
{
    if (socketBaud != 0)
        return socketBaud;
    termios tio;
    if (master >= 0 && ::tcgetattr (master, &tio) == 0)
        if (const uint32_t b = baudOf (::cfgetospeed (&tio)))
            return b;
    return 921600;
}

bool SimPty::heldByTool() const
{
    if (socketBaud != 0)
        return master >= 0;
   #if defined(TIOCGEXCL)
    int exclusive = 0;
    if (slaveHold >= 0 && ::ioctl (slaveHold, TIOCGEXCL, &exclusive) == 0)
        return exclusive != 0;
   #endif
    return true;
}

} // namespace korvasim
