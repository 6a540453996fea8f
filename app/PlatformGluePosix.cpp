#include "app/PlatformGlue.h"

std::unique_ptr<juce::Timer> startRepaintPumpIfNeeded()
{
    return nullptr;
}
