#pragma once
// What a job does, how it ended, and the per-job working fields that the
// conversations share with the worker thread that runs them.

#include "protocol/Link.h"
#include "serial/PortTable.h"

#include <cstdint>

enum class JobKind : uint8_t
{
    Detect          = 0,
    ReadConfig      = 1,
    WriteConfig     = 2,
    RestoreDefaults = 3,
    UpdateFirmware  = 4,
    Listen          = 5
};

enum class JobStatus : int32_t
{
    NotStarted = 0,
    Failed     = 1,
    PortError  = 2,
    Done       = 3,
    Aborted    = 4,
    Running    = 5
};

/** Why a job ended as it did, where its status alone does not tell the user
    enough to act on. */
enum class JobDetail : uint8_t
{
    none,
    noAnswer,      // the receiver stayed silent past the time limit
    refused,       // the receiver refused a command
    portLost,      // the device hung up or vanished, or a packet was torn
    otherFamily,   // nothing at this baud rate, but a receiver answered at the other family's
    refusedMidUpdate, // a command of an update was refused after the update had begun
    deviceChanged  // the port's name leads to another device than the one detected
};

/** The worker as the conversations see it. The GUI's worker thread derives from
    it and answers shouldExit() with its thread's exit request; tests use a plain
    flag. Fields are written by the worker and read by the message thread only
    after the job's notification. A job runs on its link's port, taken when the
    job is made. */
class JobContext
{
public:
    JobContext (JobKind k, Link& l, bool slow) noexcept
        : kind (k), link (l), portIndex (static_cast<uint8_t> (l.portIndex)), slowBaud (slow) {}
    virtual ~JobContext() = default;

    /** The exit request, polled once per pass of every conversation loop. */
    virtual bool shouldExit() const = 0;

    void fail (JobDetail why) noexcept
    {
        status = JobStatus::Failed;
        detail = why;
    }

    const JobKind kind;
    Link& link;
    const int portIndex;        // an unsigned 8-bit index: "no port" (-1) arrives as 255
    const bool slowBaud;        // true: 115200 baud, false: 921600 baud
    JobStatus status = JobStatus::NotStarted;
    JobDetail detail = JobDetail::none;
    uint8_t otherFamilyType = 0;   // with otherFamily: the type code that answered there
    PortOpenError openError {};    // with PortError before any conversation: why the port did not open
    uint64_t expectedDevice = 0;   // portDeviceIdentity of the detected receiver; 0: not checked
};
