#include "jobs/PortFaultText.h"

#include "jobs/TextRules.h"

namespace
{
    const char* const portBusyAdvice = "Serial port might be busy. Please select another port or check it and press F5 to refresh";

    /** What the Bluetooth service said, when it said something: " (BlueZ: Page Timeout)". */
    std::string bluezSaid (const PortOpenError& error)
    {
        return error.holder[0] != '\0' ? std::string (" (BlueZ: ") + error.holder + ")" : std::string();
    }
}

std::string portFaultText (const PortOpenError& error, const char* portName, FaultAdvice advice)
{
    const std::string port = portName != nullptr ? portName : "The port";
    const bool window = advice == FaultAdvice::window;
    const std::string tryAgain = window ? "press F5 to try again." : "run the command again.";

    switch (error.fault)
    {
        case PortFault::noSuchEntry:
            return window ? "No serial port is selected. Please select the receiver's port."
                          : "No serial port was named.";

        case PortFault::permission:
            return "You are not allowed to open " + port + ".\n"
                   "Add your user to the 'dialout' group:\n"
                   "    sudo adduser $USER dialout\n"
                   "then log out and log in again (the group takes effect at the next login).";

        case PortFault::busy:
            return port + " is in use by another program"
                   + (error.holder[0] != '\0' ? std::string (": ") + TextRules::visible (error.holder) : std::string())
                   + ".\nClose that program, then " + tryAgain;

        case PortFault::gone:
            return port + " is not there any more: the adapter was unplugged or the Bluetooth link is down.\n"
                   + (window ? "Reconnect the receiver, then select its port again."
                             : "Reconnect the receiver and run the command again (korva ports lists the ports present).");

        case PortFault::baudRefused:
            return "The adapter on " + port + " refused the receiver's baud rate (921600 or 115200).\n"
                   "Use a serial adapter that supports it.";

        case PortFault::settingsRefused:
            return port + " did not take the line settings (8 data bits, no parity, one stop bit).\n"
                   "Check the adapter and its driver, then " + tryAgain;

        case PortFault::notSerial:
            return port + " is not a serial device (it is a directory, a file or a device that is no serial line).\n"
                   + (window ? "Select the receiver's serial port." : "Name the receiver's serial port (korva ports lists them).");

        case PortFault::bluetoothOff:
            return "Bluetooth is switched off on this computer, so " + port + " cannot be reached.\n"
                   "Turn Bluetooth on (in the desktop's Bluetooth settings, or: bluetoothctl power on), then " + tryAgain;

        case PortFault::bluetoothUnavailable:
            return port + " cannot be reached: the Bluetooth service (BlueZ) is not running, or this computer has no Bluetooth adapter.\n"
                   "Start the Bluetooth service (systemctl start bluetooth) or plug in the adapter, then " + tryAgain;

        case PortFault::receiverUnreachable:
            return "The receiver on " + port + " did not answer the Bluetooth connection" + bluezSaid (error) + ".\n"
                   "Switch the receiver on and bring it within range, then " + tryAgain;

        case PortFault::notPaired:
            return port + " is not paired with this computer (any more).\n"
                   "Pair the receiver in the desktop's Bluetooth settings (or with bluetoothctl), then "
                   + (window ? "select it again." : "run the command again (korva ports lists the paired receivers).");

        case PortFault::connectTimeout:
            return "The Bluetooth connection to " + port + " did not come up within 20 seconds.\n"
                   "Switch the receiver on and bring it within range, then " + tryAgain;

        case PortFault::linkBusy:
            return port + " is connected to another program or device already" + bluezSaid (error) + ".\n"
                   "End that connection (or switch the receiver off and on), then " + tryAgain;

        case PortFault::cancelled:
            return "Connecting to " + port + " was stopped.";

        case PortFault::other:
            if (! window)
                return port + " could not be opened (system error " + std::to_string (error.systemError) + ").\n"
                       "Check that no other program holds it, then run the command again.";
            return std::string (portBusyAdvice) + " (system error " + std::to_string (error.systemError) + ")";

        case PortFault::none:
            break;
    }

    return window ? portBusyAdvice : port + " could not be opened.";
}
