#include "serial/PortNameScan.h"

#include <initializer_list>

namespace
{
    // "COM" followed by up to three digit places. The digits accumulate in an
    // int: every one- to three-digit number is kept whole and whichever place the
    // name has in the list (an 8-bit accumulator would turn COM128 and above into
    // zero or negative numbers and end the scan early).
    constexpr char pattern[] = "COM???";
    constexpr int firstDigitPlace = 3;
}

int scanNextPort (const char*& cursor, const char* listEnd)
{
    const char* p = cursor;

    if (p >= listEnd || *p == '\0')
        return 0;

    int place = 0;
    int number = 0;

    for (;;)
    {
        if (p >= listEnd)
        {
            // Unterminated buffer: treat as the end of the list.
            cursor = listEnd;
            return 0;
        }

        const char c = *p++;

        if (c == '\0')
        {
            // The name ended with "COM" and up to three digits: its number. A
            // bare "COM" or "COM0" names no port and is passed over like any
            // other device, so the ports listed after it are still found.
            if (place >= firstDigitPlace && number > 0)
            {
                cursor = p;
                return number;
            }

            if (p >= listEnd || *p == '\0')
            {
                cursor = p < listEnd ? p : listEnd;
                return 0;
            }

            place = 0;
            number = 0;
            continue;
        }

        if (pattern[place] == '?')
        {
            if (c >= '0' && c <= '9')
            {
                number = number * 10 + (c - '0');
                ++place;
            }
            else
            {
                place = 0;
                number = 0;
            }
            continue;
        }

        if (pattern[place] != '\0' && c == pattern[place])
        {
            ++place;
        }
        else
        {
            // No going back: the mismatching character stays consumed, so
            // "CCOM1" and "COM1A" yield nothing, as do four or more digits.
            place = 0;
            number = 0;
        }
    }
}

int collectPortNumbers (const char* list, std::size_t length, int* numbers, int maxCount)
{
    const char* cursor = list;
    const char* const end = list + length;
    int count = 0;

    while (count < maxCount)
    {
        const int number = scanNextPort (cursor, end);
        if (number <= 0)
            break;
        numbers[count++] = number;
    }

    return count;
}

int portNumberOf (const char* name)
{
    if (name == nullptr)
        return 0;

    for (const char* prefix : { "\\\\.\\", "//./" })
    {
        int i = 0;
        while (prefix[i] != '\0' && name[i] == prefix[i])
            ++i;
        if (prefix[i] == '\0')
        {
            name += i;
            break;
        }
    }

    for (const char letter : { 'C', 'O', 'M' })
        if ((*name++ & ~0x20) != letter)
            return 0;

    int number = 0;
    int digits = 0;

    for (; *name >= '0' && *name <= '9'; ++name)
    {
        if (++digits > 3)
            return 0;
        number = number * 10 + (*name - '0');
    }

    return *name == '\0' ? number : 0;
}
