#include "serial/PortHolder.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace
{
    std::string linkTarget (const std::string& path)
    {
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink (path.c_str(), buffer, sizeof (buffer) - 1);
        return n > 0 ? std::string (buffer, (size_t) n) : std::string();
    }

    std::string processName (const std::string& proc, const std::string& pid)
    {
        std::ifstream in (proc + "/" + pid + "/comm");
        std::string name;
        std::getline (in, name);
        return (name.empty() ? std::string ("a program") : name) + " (process " + pid + ")";
    }

    /** The pty number of a /dev/pts/N path, or -1. */
    int ptyNumber (const std::string& path)
    {
        const std::string prefix = "/dev/pts/";
        if (path.rfind (prefix, 0) != 0 || path.size() == prefix.size())
            return -1;
        const std::string digits = path.substr (prefix.size());
        if (digits.find_first_not_of ("0123456789") != std::string::npos)
            return -1;
        return std::atoi (digits.c_str());
    }

    /** True when descriptor fd of the process is the master of pty number. */
    bool holdsMaster (const std::string& fdInfoDir, const std::string& fd, const std::string& target, int pty)
    {
        if (pty < 0 || (target != "/dev/ptmx" && target != "/dev/pts/ptmx"))
            return false;
        std::ifstream in (fdInfoDir + "/" + fd);
        std::string line;
        while (std::getline (in, line))
            if (line.rfind ("tty-index:", 0) == 0)
                return std::atoi (line.c_str() + 10) == pty;
        return false;
    }

    /** False for a device the system files under another class than tty (/dev/null
        and its like, which every shell holds): no port, so no holder either. */
    bool mayBeLine (const std::string& target)
    {
        struct stat status {};
        if (::stat (target.c_str(), &status) != 0 || ! S_ISCHR (status.st_mode))
            return true;   // what it is shows on opening it
        const std::string node = "/sys/dev/char/" + std::to_string (major (status.st_rdev)) + ":"
                               + std::to_string (minor (status.st_rdev)) + "/subsystem";
        const std::string subsystem = linkTarget (node);
        return subsystem.empty() || subsystem.size() < 4 || subsystem.compare (subsystem.size() - 4, 4, "/tty") == 0;
    }

    std::string fromProc (const std::string& target, const std::string& proc)
    {
        DIR* dir = ::opendir (proc.c_str());
        if (dir == nullptr)
            return {};

        const std::string self = std::to_string (::getpid());
        const int pty = ptyNumber (target);
        std::string found;
        while (const dirent* d = ::readdir (dir))
        {
            if (d->d_name[0] < '0' || d->d_name[0] > '9' || self == d->d_name)
                continue;

            const std::string pid = d->d_name;
            const std::string fdDir = proc + "/" + pid + "/fd";
            DIR* fds = ::opendir (fdDir.c_str());
            if (fds == nullptr)
                continue;   // another user's process: not ours to look into

            bool holds = false, isDeviceEnd = false;
            while (const dirent* f = ::readdir (fds))
            {
                const std::string link = linkTarget (fdDir + "/" + f->d_name);
                if (link == target)
                    holds = true;
                else if (holdsMaster (proc + "/" + pid + "/fdinfo", f->d_name, link, pty))
                    isDeviceEnd = true;
            }
            ::closedir (fds);

            if (holds && ! isDeviceEnd)
            {
                found = processName (proc, pid);
                break;
            }
        }
        ::closedir (dir);
        return found;
    }

    /** A UUCP lock file's process, when it still runs. */
    std::string fromLockFiles (const std::string& target, const std::string& proc, const std::string& lockDirs)
    {
        const auto slash = target.rfind ('/');
        const std::string base = target.substr (slash == std::string::npos ? 0 : slash + 1);

        std::stringstream dirs (lockDirs);
        std::string dir;
        while (std::getline (dirs, dir, ':'))
        {
            std::ifstream in (dir + "/LCK.." + base, std::ios::binary);
            if (! in.is_open())
                continue;
            std::string text ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());

            long pid = 0;
            if (text.size() == sizeof (int) && text.find_first_of ("0123456789") != 0)
            {
                int binary = 0;   // the old binary form
                std::memcpy (&binary, text.data(), sizeof (binary));
                pid = binary;
            }
            else
            {
                pid = std::strtol (text.c_str(), nullptr, 10);
            }

            if (pid <= 0 || pid == (long) ::getpid())
                continue;
            // A stale lock (its program gone) holds nothing.
            struct stat status {};
            if (::stat ((proc + "/" + std::to_string (pid)).c_str(), &status) != 0)
                continue;
            return processName (proc, std::to_string (pid));
        }
        return {};
    }
}

std::string portHolderIn (const std::string& path, const std::string& proc, const std::string& lockDirs)
{
    char resolved[PATH_MAX];
    const std::string target = ::realpath (path.c_str(), resolved) != nullptr ? resolved : path;
    if (! mayBeLine (target))
        return {};

    if (auto holder = fromProc (target, proc); ! holder.empty())
        return holder;
    return fromLockFiles (target, proc, lockDirs);
}

std::string portHolder (const std::string& path)
{
   #if defined(__linux__)
    return portHolderIn (path, "/proc", "/run/lock:/var/lock");
   #else
    return portHolderIn (path, "/nonexistent", "/var/spool/lock:/var/lock");
   #endif
}
