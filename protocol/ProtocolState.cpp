// Tests put the protocol layer's process-wide tables back to their start-up
// state through this (declared for them in tests/TestResets.h).

#include "protocol/DeviceState.h"
#include "protocol/EventReceiver.h"
#include "protocol/Frame.h"
#include "protocol/HciReceiver.h"

#include <cstring>

void resetDeviceState();   // beside the instance, in DeviceState.cpp

void resetProtocolState()
{
    resetDeviceState();
    resetEventReceiver();
    resetHciReceiver();
    std::memset (txBuffer, 0, sizeof (txBuffer));
}
