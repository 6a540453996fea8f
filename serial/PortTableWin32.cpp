// PortTable on Windows: COMn ports found in the DOS device list, opened
// exclusively, 8N1 binary with reads that return at once.

#include "serial/PortTable.h"
#include "serial/PortNameScan.h"

#ifndef WIN32_LEAN_AND_MEAN
 #define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace
{
    /** First size of the device list buffer; doubled while the list does not fit. */
    constexpr DWORD initialListSize = 16384;
    /** Beyond this the device list is not asked for again. */
    constexpr DWORD largestListSize = 64u * 1024u * 1024u;

    struct Entry
    {
        int portNumber;
        HANDLE handle;
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

    // Handles of the old table would be lost with it: close them.
    closeAllPorts();

    int numbers[maxPorts];
    const int found = collectPortNumbers (list, length, numbers, maxPorts);   // a failed query lists nothing
    std::free (list);

    Table& t = table();
    for (int i = 0; i < found; ++i)
        t.entries[i] = Entry { numbers[i], nullptr };
    t.count = found;
    return found;
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
        return 0;

    Entry& e = table().entries[index];
    closePort (index);

    // A buffer of its own: the worker opens while the panel may format names.
    char path[32];
    formatDeviceName (path, sizeof (path), e.portNumber);

    const HANDLE h = ::CreateFileA (path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return 0;

    e.handle = h;

    ::SetupComm (h, 64, 64);

    // Reads return at once with whatever has arrived; writes wait until handed over.
    COMMTIMEOUTS timeouts {};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    ::SetCommTimeouts (h, &timeouts);

    DCB dcb {};
    dcb.DCBlength = sizeof (dcb);
    ::GetCommState (h, &dcb);
    dcb.BaudRate = baudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
    dcb.EvtChar = 0x0A;

    if (! ::SetCommState (h, &dcb))
    {
        ::CloseHandle (h);
        e.handle = nullptr;
        return 0;
    }

    return 1;
}

int readPort (int index, uint8_t* buffer)
{
    if (! validIndex (index))
        return -1;

    const HANDLE h = table().entries[index].handle;
    DWORD got = 0;
    if (h == nullptr || buffer == nullptr || ! ::ReadFile (h, buffer, (DWORD) readChunkSize, &got, nullptr))
        return 0;

    return (int) got;
}

int writePort (int index, const uint8_t* bytes, int count)
{
    if (! validIndex (index))
        return -1;

    const HANDLE h = table().entries[index].handle;
    DWORD written = 0;
    if (h == nullptr || bytes == nullptr || count <= 0 || ! ::WriteFile (h, bytes, (DWORD) count, &written, nullptr))
        return 0;

    return (int) written;
}

void closePort (int index)
{
    if (! validIndex (index))
        return;

    Entry& e = table().entries[index];
    if (e.handle != nullptr)
    {
        ::CloseHandle (e.handle);
        e.handle = nullptr;
    }
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
