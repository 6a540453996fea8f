#pragma once
// The settings that write --from takes: the document of a successful read
// --json (or write, or restore), or a bare settings object. Everything else is
// refused with the key and the reason; no input makes the parser throw.

#include <optional>
#include <string>

namespace korvacli
{
    /** The settings a document sets; those absent stay unset. */
    struct DocumentSettings
    {
        std::optional<std::string> name;
        std::optional<std::string> pin;
        std::optional<bool> stereo;
        std::optional<int> maxDevices;          // 1 or 8
        std::optional<bool> gpoNormallyOpen;
        std::optional<bool> led;
        std::optional<bool> frontRestore;
    };

    /** Largest document taken, in bytes: a settings document is a few hundred. */
    constexpr size_t maxSettingsDocumentBytes = 1 << 20;

    /** Parses text; on a refusal returns false with the reason in error. */
    bool parseSettingsDocument (const std::string& text, DocumentSettings& settings, std::string& error);
}
