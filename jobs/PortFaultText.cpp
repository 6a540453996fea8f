#include "jobs/PortFaultText.h"

namespace
{
    const char* const portBusyAdvice = "Serial port might be busy. Please select another port or check it and press F5 to refresh";
}

std::string portFaultText (const PortOpenError& error, const char* portName)
{
    const std::string port = portName != nullptr ? portName : "The port";

    switch (error.fault)
    {
        case PortFault::noSuchEntry:
            return "No serial port is selected. Please select the receiver's port.";

        case PortFault::permission:
            return "You are not allowed to open " + port + ".\n"
                   "Add your user to the 'dialout' group:\n"
                   "    sudo adduser $USER dialout\n"
                   "then log out and log in again (the group takes effect at the next login).";

        case PortFault::busy:
            return port + " is in use by another program"
                   + (error.holder[0] != '\0' ? std::string (": ") + error.holder : std::string())
                   + ".\nClose that program, then press F5 to try again.";

        case PortFault::gone:
            return port + " is not there any more: the adapter was unplugged or the Bluetooth link is down.\n"
                   "Reconnect the receiver, then select its port again.";

        case PortFault::baudRefused:
            return "The adapter on " + port + " refused the receiver's baud rate (921600 or 115200).\n"
                   "Use a serial adapter that supports it.";

        case PortFault::settingsRefused:
            return port + " did not take the line settings (8 data bits, no parity, one stop bit).\n"
                   "Check the adapter and its driver, then press F5 to try again.";

        case PortFault::other:
            return std::string (portBusyAdvice) + " (system error " + std::to_string (error.systemError) + ")";

        case PortFault::none:
            break;
    }

    return portBusyAdvice;
}
