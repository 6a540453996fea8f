/* Prints the COM ports in the DOS device list, one a line, in the order
   QueryDosDevice gives them: the order in which the application lists them.
   Under Wine that order is not numeric, so the tests look their port up here. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main (void)
{
    DWORD size = 65536;
    char* names = NULL;
    DWORD length = 0;

    for (;;)
    {
        names = (char*) malloc (size);
        if (names == NULL)
            return 1;
        length = QueryDosDeviceA (NULL, names, size);
        if (length != 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        free (names);
        size *= 2;
    }

    for (const char* name = names; name < names + length && *name != '\0'; name += strlen (name) + 1)
        if (strncmp (name, "COM", 3) == 0)
            printf ("%s\n", name);

    free (names);
    return 0;
}
