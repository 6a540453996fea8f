#include "app/PlatformGlue.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <windows.h>

namespace
{
bool runningUnderWine()
{
    const auto ntdll = GetModuleHandleW (L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress (ntdll, "wine_get_version") != nullptr;
}

class RepaintPump final : public juce::Timer
{
public:
    RepaintPump() { startTimerHz (60); }

    void timerCallback() override
    {
        for (int i = juce::ComponentPeer::getNumPeers(); --i >= 0;)
            if (auto* peer = juce::ComponentPeer::getPeer (i))
                peer->performAnyPendingRepaintsNow();
    }
};
}

std::unique_ptr<juce::Timer> startRepaintPumpIfNeeded()
{
    if (! runningUnderWine())
        return nullptr;

    return std::make_unique<RepaintPump>();
}
