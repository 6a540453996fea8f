#pragma once
// The receiver's end of the serial line: a pseudo-terminal whose slave the tool
// opens as its port, and the line speed the tool set on it.

#include <cstdint>
#include <string>

namespace korvasim
{

class SimPty
{
public:
    SimPty() = default;
    ~SimPty() { close(); }

    SimPty (const SimPty&) = delete;
    SimPty& operator= (const SimPty&) = delete;

    /** Creates the pty, raw at 9600 baud like an adapter just plugged in, and the
        symlink to its slave when linkPath is not empty. False (nothing left open) on failure. */
    bool open (const std::string& linkPath);

    /** Closes both ends and removes the symlink: the tool's port hangs up. Idempotent. */
    void close();

    bool isOpen() const { return master >= 0; }

    /** The master, nonblocking; -1 when closed. */
    int masterFd() const { return master; }

    /** /dev/pts/N, kept after close so a vanished port can still be named. */
    const std::string& slavePath() const { return slaveName; }

    /** The output speed the tool last set on the line; 921600 when unknown. */
    uint32_t baud() const;

    /** Whether a tool has the port open. The tool opens its port exclusively
        (TIOCEXCL), which the slave's flags show; where they cannot be read, true. */
    bool heldByTool() const;

private:
    int master = -1;
    int slaveHold = -1;
    std::string slaveName;
    std::string link;
};

} // namespace korvasim
