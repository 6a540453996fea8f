// Feeds arbitrary bytes to the parser of write --from documents: it must refuse
// or accept each without throwing, crashing or reading out of bounds, and what
// it accepts must hold only values korva can write.

#include "cli/SettingsDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    korvacli::DocumentSettings settings;
    std::string error;
    const std::string text (reinterpret_cast<const char*> (data), size);

    if (korvacli::parseSettingsDocument (text, settings, error))
    {
        if (settings.maxDevices && *settings.maxDevices != 1 && *settings.maxDevices != 8)
            std::abort();
    }
    else if (error.empty())
    {
        std::abort();   // every refusal says why
    }
    return 0;
}
