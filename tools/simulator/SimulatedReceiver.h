#pragma once
// A simulated Bluetooth audio receiver behind a pseudo-terminal, for tests,
// benchmarks and manual runs of the tool without hardware.
//
// It models the module on the far end of the serial link with code of its own
// (it shares nothing with the tool's receive path), so it checks the tool
// independently: every frame's length and checksum, the event acknowledgements
// the tool owes, and the lock-step order of the firmware update family. Anything
// wrong is recorded as a violation rather than thrown.
//
// Types 0xF0 and 0xF2 speak CommandFrames at 921600 baud; type 0xF1 answers HCI
// memory reads and writes at 115200 baud. At any other line speed (read from the
// pty's line settings) the receiver hears only noise and answers nothing.
//
// All public methods are thread-safe. POSIX only.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace korvasim
{

/** Settings a framed (0xF0/0xF2) receiver stores; also the view of a 0xF1's memory. */
struct StoredSettings
{
    std::string name = "Rulko";
    std::array<uint8_t, 4> pin { { '0', '0', '0', '0' } }; // all zeros: no PIN
    uint8_t stereo = 1;
    uint8_t maxDevices = 8;
    uint8_t gpoNormallyOpen = 1;
    uint8_t ledControl = 0;
    uint8_t restoreControl = 1;

    bool operator== (const StoredSettings& o) const;
    bool operator!= (const StoredSettings& o) const { return ! (*this == o); }
};

struct SimulatorOptions
{
    uint8_t type = 0xF0;                 // 0xF0, 0xF1 or 0xF2 (any other value is reported as is)
    uint8_t versionMajor = 0x01;
    uint8_t versionMinor = 0x05;
    StoredSettings factory;              // settings after start and after 0x02
    std::string linkPath;                // optional symlink to the pty's slave
    std::string listenPath;              // a Unix socket to listen on instead of a pty (a Bluetooth link)
    int restartDelayMs = 300;            // 0x02 and 0xD1: time before event 0x01 state 2
    int ackTimeoutMs = 2000;             // an event not acknowledged within this is a violation
};

/** One 0x49 command as received. */
struct FirmwareCommand
{
    uint8_t subCode = 0;
    int dataBytes = -1;                  // n of DspHeader / SectionData frames, -1 for the others
    int sectionKind = -1;                // SectionData / SectionEnd: 0 MCU, 1 DSP, 2 config
};

/** What the firmware family delivered, reassembled. */
struct FirmwareImageReceived
{
    bool begun = false;                  // UpdateBegin seen
    uint32_t mcuSize = 0, dspSize = 0, configSize = 0; // as announced by UpdateBegin
    uint16_t mcuTag = 0, dspHeaderTag = 0, configTag = 0;
    uint16_t dspHeaderSize = 0;          // low 16 bits as announced by DspHeader
    std::vector<uint8_t> mcu, dspHeader, dsp, config; // reassembled by offset (header in order)
    bool ended = false;                  // UpdateEnd seen
    bool closed = false;                 // UpdateClose seen
};

class SimulatedReceiver
{
public:
    explicit SimulatedReceiver (SimulatorOptions options = {});
    ~SimulatedReceiver();

    SimulatedReceiver (const SimulatedReceiver&) = delete;
    SimulatedReceiver& operator= (const SimulatedReceiver&) = delete;

    /** Creates the pty (and the symlink) and starts the receiver's thread. False on failure. */
    bool start();

    /** Stops the thread, closes the pty and removes the symlink. Idempotent. */
    void stop();

    /** Path of the pty's slave (/dev/pts/N), empty before start(). */
    std::string slavePath() const;

    /** The symlink path when one was asked for, else slavePath(). */
    std::string portPath() const;

    uint8_t type() const;

    // ---- Stored state ---------------------------------------------------------

    StoredSettings settings() const;
    void setSettings (const StoredSettings& s);

    /** 0xF1 memory (2048 bytes, "MCHP" at 0x07BA, name record at 0x0500, PIN at
        0x0047, PIN switch at 0x00B5). */
    std::vector<uint8_t> memory (uint16_t location, int count) const;
    void setMemory (uint16_t location, const std::vector<uint8_t>& bytes);

    // ---- What was received ----------------------------------------------------

    /** Every frame/packet received from the tool, raw, in order (noise excluded). */
    std::vector<std::vector<uint8_t>> receivedFrames() const;

    /** Received CommandFrames whose opcode is op (HCI packets: whose opcode's low byte is op). */
    std::vector<std::vector<uint8_t>> receivedWithOpcode (uint8_t op) const;

    /** Every frame/packet sent to the tool, raw, in order. */
    std::vector<std::vector<uint8_t>> sentFrames() const;

    /** Descriptions of everything the tool did wrong (bad checksum, bad length,
        missing or unexpected acknowledgement, 0x49 out of lock-step, ...). */
    std::vector<std::string> violations() const;

    /** Events sent whose acknowledgement has not arrived yet. */
    std::vector<uint8_t> pendingAcks() const;

    /** Bytes heard at a line speed the module does not use, or outside any frame. */
    uint64_t noiseBytes() const;

    /** Sequence of 0x49 sub-codes with their chunk sizes. */
    std::vector<FirmwareCommand> firmwareCommands() const;
    FirmwareImageReceived firmware() const;

    /** Forgets received/sent frames, violations, firmware state, noise and stream counts. */
    void clearLogs();

    /** Polls cond (under no lock of the receiver) until true or timeoutMs passed. */
    bool waitFor (const std::function<bool()>& cond, int timeoutMs = 5000) const;

    /** Waits until at least count frames were received. */
    bool waitForFrames (size_t count, int timeoutMs = 5000) const;

    // ---- Faults, switchable at any time ---------------------------------------

    /** Answers nothing (frames are still logged). */
    void setSilent (bool on);

    /** Stops reading the pty, so the tool's writes fill the line and then block, as
        over an rfcomm link that stopped draining. Off again, it reads on where it stopped. */
    void setStallReads (bool on);

    // Faults that switch on partway through, counted in frames (and HCI packets)
    // received from the tool from the call on, acknowledgements included; 0 switches
    // at once. Each counts once.

    /** Answers the next n frames, then nothing, as setSilent (true): a receiver that
        stops answering mid-transfer. */
    void silentAfterFrames (int n);

    /** Reads and answers the next n frames, then stops reading as setStallReads (true). */
    void stallAfterFrames (int n);

    /** Vanishes (see vanish()) as the nth frame arrives, without answering it. */
    void vanishAfterFrames (int n);

    /** Vanishes as the nth 0x49 command with subCode arrives, without answering it
        (nth below 1 counts as 1). */
    void vanishOnFirmware (uint8_t subCode, int nth = 1);

    /** Refuses opcode with status (non-zero) in its acknowledgement, without acting
        on the command. For 0x49, subCode >= 0 limits the refusal to that sub-code, and
        the command is still taken in (data reassembled, order checked): only its
        acknowledgement changes, so a refused UpdateClose still counts as seen.
        Type 0xF1: opcode is the low byte of the HCI opcode (0x29 read, 0x27 write);
        the Command Complete event then carries status and no return parameters. */
    void refuse (uint8_t opcode, uint8_t status, int subCode = -1);
    void clearRefusals();

    /** Sends every frame with a wrong checksum. */
    void setCorruptChecksum (bool on);

    /** Writes each frame in pieces, a few milliseconds apart. */
    void setSplitWrites (bool on);

    /** Writes noise (no 0xAA, 0x04 or 0x0E among it) before each frame. */
    void setGarbageBetweenFrames (bool on);

    /** Waits delayMs before each answer. */
    void setReplyDelayMs (int delayMs);

    /** Paces input and output at the wire speed of the line's baud rate (10 bits per byte). */
    void setWireSpeed (bool on);

    /** Answers at any baud rate (for tests of other parts that do not care). */
    void setIgnoreBaud (bool on);

    /** Sends event 0x1F with count paired-device records. */
    void injectPairedRecords (int count);

    /** Sends event 0x01 with state (0 or 2 ...). */
    void injectStatus (uint8_t state);

    /** Streams unsolicited status events (0x01, state 0) perSecond times a second
        while a tool holds the port open, as a chatty receiver does; 0 stops. Only
        types 0xF0 and 0xF2 send events; at a line speed other than theirs nothing
        is sent. The stream's events are counted rather than each owed an
        acknowledgement (see streamCounts). */
    void streamEvents (int perSecond);

    struct StreamCounts
    {
        uint64_t sent = 0;           // stream events that reached the line
        uint64_t acknowledged = 0;   // acknowledgements of 0x01 beyond those owed by other events
    };
    StreamCounts streamCounts() const;

    /** Sends event 0x0E with value. */
    void injectEvent0E (uint8_t value);

    /** Sends any event (opcode + params) as a CommandFrame, or raw bytes as they are. */
    void injectEvent (uint8_t opcode, const std::vector<uint8_t>& params);
    void injectRaw (const std::vector<uint8_t>& bytes);

    /** Closes the pty's master, like a pulled adapter: the slave hangs up and vanishes. */
    void vanish();

    /** Called (on the receiver's thread) with one line per frame, in the tool's trace
        format as seen from the tool: "< Cmd: ", "< Ack: ", "< DSPHDR: " for what the tool
        sent, "> Evt: " for what the receiver sent (HCI events included). */
    void setLogger (std::function<void (const std::string&)> logger);

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
};

} // namespace korvasim
