#include "protocol/DeviceState.h"

#include <cstring>

namespace
{
DeviceState instance;
}

DeviceState& deviceState()
{
    return instance;
}

void resetDeviceState()
{
    instance.currentPortIndex.store (-1);
    instance.typeCode = 0;
    instance.versionMajor = 0;
    instance.versionMinor = 0;
    instance.reportedTypeCode = 0;
    instance.reportedVersionMajor = 0;
    instance.reportedVersionMinor = 0;
    std::memset (&instance.config, 0, sizeof (instance.config));
    std::memset (&instance.hciConfig, 0, sizeof (instance.hciConfig));
}
