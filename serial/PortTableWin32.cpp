// PortTable on Windows: COMn ports found in the DOS device list, opened
// exclusively and overlapped, 8N1 binary with no flow control of any kind.
//
// Waiting for bytes: reads have no time-outs, so a read completes once it has
// every byte asked for. waitPort reads a single byte and waits for it together
// with the process-wide interrupt event; the byte is held for the next readPort,
// which reads exactly what the driver reports queued and so completes at once.
// This wakes as soon as the driver has a byte, on Windows and under Wine alike.
// The usual alternatives fail under Wine 8: WaitCommEvent completes at once with
// no event on a pty, the "return on the first byte" read time-outs (MAXDWORD,
// MAXDWORD, n) wait for the whole buffer, and an overlapped read with the
// "return at once" time-outs never completes on a quiet line.
//
// Every read and write is finished or cancelled before its call returns: no I/O
// outlives the thread that started it, which Windows would cancel on its exit.

#include "serial/PortTable.h"
#include "serial/PortTableWin32.h"
#include "serial/PortNameScan.h"

#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <mutex>

namespace
{
    /** First size of the device list buffer; doubled while the list does not fit. */
    constexpr DWORD initialListSize = 16384;
    /** Beyond this the device list is not asked for again. */
    constexpr DWORD largestListSize = 64u * 1024u * 1024u;

    /** A write attempt ends after this with what the driver took by then, so a
        stalled line is seen as attempts that take nothing. */
    constexpr DWORD writeAttemptMs = 100;
    /** Bound on reading bytes the driver already holds; it normally takes none. */
    constexpr DWORD queuedReadLimitMs = 100;
    /** Pause before trying again after an attempt that ended early with nothing. */
    constexpr DWORD retryPauseMs = 10;
    /** The rate tried to tell a refused baud rate from other refused settings. */
    constexpr DWORD commonBaudRate = 115200;

    struct Entry
    {
        int portNumber;
        HANDLE handle;             // nullptr while closed
        HANDLE readDone;           // manual-reset events of the entry's overlapped I/O
        HANDLE writeDone;
        std::atomic<bool> lost;    // the device failed for good since it was opened
        bool held;                 // a byte waitPort read ahead; readPort returns it first
        uint8_t heldByte;
    };

    struct Table
    {
        Entry entries[maxPorts];
        int count = 0;
        char deviceName[32];    // most recent portDeviceName result
        char displayName[32];   // most recent portDisplayName result
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

    void formatDeviceName (char* out, size_t size, int portNumber)
    {
        std::snprintf (out, size, "//./COM%i", portNumber);
    }

    //==========================================================================
    std::atomic<bool> waitsInterrupted { false };

    /** Manual-reset, set while port waits are interrupted: waits include it. */
    HANDLE interruptEvent()
    {
        static const HANDLE event = ::CreateEventA (nullptr, TRUE, FALSE, nullptr);
        return event;
    }

    /** Sleeps for ms, or less when port waits are interrupted. */
    void restFor (DWORD ms)
    {
        if (const HANDLE event = interruptEvent())
            ::WaitForSingleObject (event, ms);
        else
            ::Sleep (ms);
    }

    //==========================================================================
    // Per thread: jobs on several ports open them at once.
    thread_local PortOpenError openError;

    void setOpenError (PortFault fault, DWORD systemError)
    {
        openError = PortOpenError {};
        openError.fault = fault;
        openError.systemError = (int) systemError;
    }

    PortFault faultOfOpen (DWORD error)
    {
        switch (error)
        {
            case ERROR_FILE_NOT_FOUND:
            case ERROR_PATH_NOT_FOUND:
            case ERROR_DEV_NOT_EXIST:
            case ERROR_DEVICE_REMOVED:
                return PortFault::gone;

            // Windows refuses a second opener of a COM port with access denied;
            // Wine reports a device another program holds exclusively as a lock
            // violation.
            case ERROR_ACCESS_DENIED:
            case ERROR_SHARING_VIOLATION:
            case ERROR_LOCK_VIOLATION:
            case ERROR_BUSY:
                return PortFault::busy;

            default:
                return PortFault::other;
        }
    }

    //==========================================================================
    /** Errors after which the device does not come back: a pulled adapter, a
        dropped Bluetooth link, I/O ended by the driver. Wine reports a hung-up
        pty with ERROR_BROKEN_PIPE and ERROR_NOT_READY. */
    bool meansLost (DWORD error)
    {
        switch (error)
        {
            case ERROR_ACCESS_DENIED:
            case ERROR_OPERATION_ABORTED:
            case ERROR_BAD_COMMAND:
            case ERROR_DEVICE_REMOVED:
            case ERROR_GEN_FAILURE:
            case ERROR_INVALID_HANDLE:
            case ERROR_NOT_READY:
            case ERROR_BROKEN_PIPE:
            case ERROR_HANDLE_EOF:
            case ERROR_DEV_NOT_EXIST:
            case ERROR_DEVICE_NOT_CONNECTED:
                return true;
            default:
                return false;
        }
    }

    /** Records a failed operation; true when it means the device is lost. */
    bool noteFailure (Entry& e, DWORD error)
    {
        if (meansLost (error))
            e.lost = true;
        return e.lost;
    }

    /** Bytes the driver holds for reading; 0 when it cannot tell. */
    DWORD queuedBytes (Entry& e)
    {
        DWORD lineErrors = 0;   // overruns and framing errors: the protocol's checksums catch those
        COMSTAT status {};
        if (! ::ClearCommError (e.handle, &lineErrors, &status))
        {
            noteFailure (e, ::GetLastError());
            return 0;
        }
        return status.cbInQue;
    }

    struct Transfer
    {
        DWORD bytes;
        DWORD error;   // 0 when the operation succeeded or was ended here
    };

    /** Waits for the overlapped operation on ov until it completes, waitMs pass or
        (when interruptible) port waits are interrupted, then cancels it if it is
        still running. Returns what it transferred either way. */
    Transfer finish (HANDLE h, OVERLAPPED& ov, DWORD waitMs, bool interruptible)
    {
        const HANDLE events[2] = { ov.hEvent, interruptEvent() };
        const DWORD eventCount = interruptible && events[1] != nullptr ? 2 : 1;

        bool cancelled = false;
        if (::WaitForMultipleObjects (eventCount, events, FALSE, waitMs) != WAIT_OBJECT_0)
        {
            ::CancelIoEx (h, &ov);
            cancelled = true;
        }

        DWORD bytes = 0;
        if (::GetOverlappedResult (h, &ov, &bytes, TRUE))
            return { bytes, 0 };

        const DWORD error = ::GetLastError();
        if (cancelled && error == ERROR_OPERATION_ABORTED)
            return { bytes, 0 };   // ended by the cancel above: what went through counts
        return { bytes, error };
    }

    Transfer readInto (Entry& e, uint8_t* buffer, DWORD count, DWORD waitMs, bool interruptible)
    {
        OVERLAPPED ov {};
        ov.hEvent = e.readDone;

        if (::ReadFile (e.handle, buffer, count, nullptr, &ov))
            return finish (e.handle, ov, 0, false);

        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING)
            return { 0, error };

        return finish (e.handle, ov, waitMs, interruptible);
    }

    Transfer writeFrom (Entry& e, const uint8_t* bytes, DWORD count, DWORD waitMs)
    {
        OVERLAPPED ov {};
        ov.hEvent = e.writeDone;

        if (::WriteFile (e.handle, bytes, count, nullptr, &ov))
            return finish (e.handle, ov, 0, false);

        const DWORD error = ::GetLastError();
        if (error != ERROR_IO_PENDING)
            return { 0, error };

        return finish (e.handle, ov, waitMs, true);
    }

    //==========================================================================
    /** Line settings for the protocol: binary 8N1, no flow control of any kind
        (software flow control would swallow the 0x11 and 0x13 bytes of packets),
        DTR and RTS raised as on POSIX, no character replaced or dropped, errors
        not stopping the line. Whatever an earlier program left is overwritten. */
    PortFault configure (HANDLE h, uint32_t baudRate, DWORD& systemError)
    {
        ::SetupComm (h, 64, 64);   // a size request the driver may ignore

        DCB dcb {};
        dcb.DCBlength = sizeof (dcb);
        if (! ::GetCommState (h, &dcb))
        {
            systemError = ::GetLastError();
            return PortFault::other;   // not a serial port
        }

        if (baudRate == 0)
        {
            systemError = ERROR_INVALID_PARAMETER;
            return PortFault::baudRefused;
        }

        dcb.BaudRate = baudRate;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = 1;
        dcb.fParity = 0;
        dcb.fOutxCtsFlow = 0;
        dcb.fOutxDsrFlow = 0;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fDsrSensitivity = 0;
        dcb.fTXContinueOnXoff = 1;
        dcb.fOutX = 0;
        dcb.fInX = 0;
        dcb.fErrorChar = 0;
        dcb.fNull = 0;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fAbortOnError = 0;
        dcb.EvtChar = 0x0A;

        if (! ::SetCommState (h, &dcb))
        {
            systemError = ::GetLastError();
            if (systemError != ERROR_INVALID_PARAMETER || baudRate == commonBaudRate)
                return PortFault::settingsRefused;

            // Refused as invalid: the rate is to blame when the rest takes at a common one.
            dcb.BaudRate = commonBaudRate;
            return ::SetCommState (h, &dcb) ? PortFault::baudRefused : PortFault::settingsRefused;
        }

        // Reads wait until they have every byte asked for (see the top of this
        // file); each write attempt ends after writeAttemptMs with what it sent.
        COMMTIMEOUTS timeouts {};
        timeouts.ReadIntervalTimeout = 0;
        timeouts.ReadTotalTimeoutMultiplier = 0;
        timeouts.ReadTotalTimeoutConstant = 0;
        timeouts.WriteTotalTimeoutMultiplier = 0;
        timeouts.WriteTotalTimeoutConstant = writeAttemptMs;
        if (! ::SetCommTimeouts (h, &timeouts))
        {
            systemError = ::GetLastError();
            return PortFault::other;
        }

        return PortFault::none;
    }

    void release (Entry& e)
    {
        // Output the line has not taken would hold CloseHandle until it drains.
        if (e.handle != nullptr)
            ::PurgeComm (e.handle, PURGE_TXABORT | PURGE_TXCLEAR);

        for (HANDLE* h : { &e.handle, &e.readDone, &e.writeDone })
        {
            if (*h != nullptr)
                ::CloseHandle (*h);
            *h = nullptr;
        }
        e.lost = false;
        e.held = false;
    }
}

int enumeratePortsFromList (const char* dosDeviceNames, std::size_t length)
{
    // Handles of the old table would be lost with it: close them.
    closeAllPorts();

    int numbers[maxPorts];
    const int found = dosDeviceNames != nullptr ? collectPortNumbers (dosDeviceNames, length, numbers, maxPorts) : 0;

    Table& t = table();
    for (int i = 0; i < found; ++i)
    {
        Entry& e = t.entries[i];
        e.portNumber = numbers[i];
        e.handle = e.readDone = e.writeDone = nullptr;
        e.lost = false;
        e.held = false;
    }
    t.count = found;
    forgetUnlistedPortDescriptions (numbers, found);
    return found;
}

int enumeratePorts()
{
    DWORD size = initialListSize;
    char* list = static_cast<char*> (std::malloc (size));
    if (list == nullptr)
        return 0;

    DWORD length = 0;

    for (;;)
    {
        ::SetLastError (0);
        length = ::QueryDosDeviceA (nullptr, list, size);

        if (length != 0 || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;

        char* bigger = size < largestListSize ? static_cast<char*> (std::realloc (list, size * 2)) : nullptr;
        if (bigger == nullptr)
        {
            std::free (list);
            return 0;   // the previous table stays
        }
        list = bigger;
        size *= 2;
    }

    const int found = enumeratePortsFromList (list, length);   // a failed query lists nothing
    std::free (list);
    return found;
}

int addPort (const char* name)
{
    const int number = portNumberOf (name);
    if (number == 0)
        return -1;

    Table& t = table();
    for (int i = 0; i < t.count; ++i)
        if (t.entries[i].portNumber == number)
            return i;

    if (t.count >= maxPorts)
        return -1;

    Entry& e = t.entries[t.count];
    e.portNumber = number;
    e.handle = e.readDone = e.writeDone = nullptr;
    e.lost = false;
    e.held = false;
    return t.count++;
}

int portCount()
{
    return table().count;
}

const char* portDeviceName (int index)
{
    if (! validIndex (index))
        return nullptr;

    Table& t = table();
    formatDeviceName (t.deviceName, sizeof (t.deviceName), t.entries[index].portNumber);
    return t.deviceName;
}

const char* portDisplayName (int index)
{
    if (! validIndex (index))
        return nullptr;

    Table& t = table();
    std::snprintf (t.displayName, sizeof (t.displayName), "COM%i", t.entries[index].portNumber);
    return t.displayName;
}

int openPort (int index, uint32_t baudRate)
{
    if (! validIndex (index))
    {
        setOpenError (PortFault::noSuchEntry, 0);
        return 0;
    }

    Entry& e = table().entries[index];
    closePort (index);

    // A buffer of its own: the worker opens while the panel may format names.
    char path[32];
    formatDeviceName (path, sizeof (path), e.portNumber);

    const HANDLE h = ::CreateFileA (path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
    {
        const DWORD error = ::GetLastError();
        setOpenError (faultOfOpen (error), error);
        return 0;
    }

    e.handle = h;

    DWORD error = 0;
    PortFault fault = configure (h, baudRate, error);

    if (fault == PortFault::none)
    {
        e.readDone = ::CreateEventA (nullptr, TRUE, FALSE, nullptr);
        e.writeDone = ::CreateEventA (nullptr, TRUE, FALSE, nullptr);
        if (e.readDone == nullptr || e.writeDone == nullptr)
        {
            error = ::GetLastError();
            fault = PortFault::other;
        }
    }

    if (fault != PortFault::none)
    {
        release (e);
        setOpenError (fault, error);
        return 0;
    }

    // A job starts from a quiet line: bytes left over from an earlier job (a
    // late acknowledgement, say) would otherwise be taken as answers to this one.
    ::PurgeComm (h, PURGE_RXCLEAR);

    setOpenError (PortFault::none, 0);
    return 1;
}

int readPort (int index, uint8_t* buffer, int maxBytes)
{
    if (! validIndex (index))
        return -1;

    Entry& e = table().entries[index];
    if (e.handle == nullptr || e.lost || buffer == nullptr || maxBytes <= 0)
        return 0;

    const int limit = std::min (maxBytes, readChunkSize);

    int got = 0;
    if (e.held)
    {
        buffer[got++] = e.heldByte;
        e.held = false;
    }

    // Only what is queued, so the read has all it asks for and completes at once.
    const DWORD wanted = std::min (queuedBytes (e), (DWORD) (limit - got));
    if (wanted == 0 || e.lost)
        return e.lost ? 0 : got;

    const Transfer read = readInto (e, buffer + got, wanted, queuedReadLimitMs, false);
    if (read.error != 0 && noteFailure (e, read.error))
        return 0;

    return got + (int) read.bytes;
}

PortWait waitPort (int index, int timeoutMs)
{
    if (! validIndex (index))
        return PortWait::lost;

    Entry& e = table().entries[index];
    if (e.handle == nullptr || e.lost)
        return PortWait::lost;

    if (portWaitsInterrupted())
        return PortWait::interrupted;

    const ULONGLONG deadline = ::GetTickCount64() + (ULONGLONG) std::max (timeoutMs, 0);

    for (;;)
    {
        if (e.held || queuedBytes (e) > 0)
            return PortWait::readable;
        if (e.lost)
            return PortWait::lost;

        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return PortWait::timeout;

        const Transfer read = readInto (e, &e.heldByte, 1, (DWORD) (deadline - now), true);
        e.held = read.bytes == 1;

        if (read.error != 0 && noteFailure (e, read.error))
            return PortWait::lost;
        if (portWaitsInterrupted())
            return PortWait::interrupted;   // a byte that came meanwhile stays held
        if (e.held)
            return PortWait::readable;

        // Nothing within the time, or a read that ended early or failed for a
        // passing reason: look again rather than spin on it.
        if (::GetTickCount64() < deadline)
            restFor (std::min ((DWORD) (deadline - ::GetTickCount64()), retryPauseMs));
    }
}

bool portLost (int index)
{
    if (! validIndex (index))
        return true;

    const Entry& e = table().entries[index];
    return e.handle == nullptr || e.lost;
}

void interruptPortWaits()
{
    waitsInterrupted.store (true);
    if (const HANDLE event = interruptEvent())
        ::SetEvent (event);
}

void clearPortInterrupt()
{
    waitsInterrupted.store (false);
    if (const HANDLE event = interruptEvent())
        ::ResetEvent (event);
}

bool portWaitsInterrupted()
{
    return waitsInterrupted.load();
}

int writePort (int index, const uint8_t* bytes, int count)
{
    if (! validIndex (index))
        return -1;

    Entry& e = table().entries[index];
    if (e.handle == nullptr || e.lost || bytes == nullptr || count <= 0 || portWaitsInterrupted())
        return 0;

    int written = 0;
    ULONGLONG lastProgress = ::GetTickCount64();

    while (written < count)
    {
        const ULONGLONG stalled = ::GetTickCount64() - lastProgress;
        if (stalled >= (ULONGLONG) writeStallLimitMs)
            break;

        const Transfer sent = writeFrom (e, bytes + written, (DWORD) (count - written),
                                         (DWORD) ((ULONGLONG) writeStallLimitMs - stalled));
        written += (int) sent.bytes;
        if (sent.bytes > 0)
            lastProgress = ::GetTickCount64();

        // An attempt that timed out having sent nothing is a stall, not a failure
        // (Windows completes it with 0 bytes, Wine with ERROR_TIMEOUT).
        if (sent.error != 0 && sent.error != ERROR_TIMEOUT && sent.error != ERROR_SEM_TIMEOUT)
        {
            noteFailure (e, sent.error);
            break;
        }

        if (portWaitsInterrupted())
            break;

        if (sent.bytes == 0)
            restFor (retryPauseMs);
    }

    // Part of a packet on the line leaves the receiver's framing torn: the
    // link is not usable for this job any more.
    if (written < count)
        e.lost = true;

    return written;
}

bool portConnecting (int)
{
    return false;   // pairing makes COM ports here: opening one never waits for a link
}

uint64_t portDeviceIdentity (int)
{
    return 0;   // a COM name does not tell one device from another behind it
}

PortOpenError lastOpenError()
{
    return openError;
}

void closePort (int index)
{
    if (validIndex (index))
        release (table().entries[index]);
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
}

int portLatencyTimerMs (int)
{
    return -1;   // the FTDI driver keeps it in the registry per device; not read here
}
