#include "protocol/ProtocolState.h"

#include "protocol/DeviceState.h"
#include "protocol/EventReceiver.h"
#include "protocol/Frame.h"
#include "protocol/HciReceiver.h"

#include <cstring>

void resetProtocolState()
{
    resetDeviceState();
    resetEventReceiver();
    resetHciReceiver();
    std::memset (txBuffer, 0, sizeof (txBuffer));
}
