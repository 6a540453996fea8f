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

    /** Instead of a pty: listens on a Unix socket at path, as a receiver that is
        reached over a Bluetooth link. Each connection made to it is served as the
        line until its peer closes it; the receiver keeps its state between them.
        A socket has no line speed: baud() reports lineBaud, its UART's rate. */
    bool listen (const std::string& path, uint32_t lineBaud);

    /** The listening socket while no connection is served; -1 otherwise. */
    int waitingFd() const { return master < 0 ? listener : -1; }

    /** Takes a waiting connection as the line. */
    void acceptConnection();

    /** The served connection ended: wait for the next one. False when not listening. */
    bool dropConnection();

    /** Closes both ends and removes the symlink: the tool's port hangs up. Idempotent. */
    void close();

    bool isOpen() const { return master >= 0 || listener >= 0; }

    /** Whether the line is a socket connection (listen), not a pty. */
    bool isSocket() const { return listener >= 0; }

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
    int listener = -1;
    uint32_t socketBaud = 0;   // non-zero while listening on a socket
    std::string slaveName;
    std::string link;
};

} // namespace korvasim
