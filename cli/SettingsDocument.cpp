#include "cli/SettingsDocument.h"

#include <nlohmann/json.hpp>

namespace korvacli
{
namespace
{
    using Json = nlohmann::json;

    enum class Kind { text, flag, deviceCount };

    struct Key
    {
        const char* name;
        Kind kind;
    };

    // Every key a settings object may carry, with the only type it may have.
    constexpr Key settingKeys[] = {
        { "name", Kind::text },          { "pin", Kind::text },
        { "stereo", Kind::flag },        { "maxDevices", Kind::deviceCount },
        { "gpoNormallyOpen", Kind::flag }, { "led", Kind::flag },
        { "frontRestore", Kind::flag },
    };

    const Key* findKey (const std::string& name)
    {
        for (const auto& k : settingKeys)
            if (name == k.name)
                return &k;
        return nullptr;
    }

    /** Exact types only: a string, a boolean, or the integer 1 or 8 (not 1.0,
        not true, not a number that merely rounds to one). */
    std::string problemWith (const Key& key, const Json& value)
    {
        switch (key.kind)
        {
            case Kind::text:
                return value.is_string() ? "" : "must be a string";
            case Kind::flag:
                return value.is_boolean() ? "" : "must be true or false";
            case Kind::deviceCount:
                if (value.is_number_unsigned() || value.is_number_integer())
                {
                    const auto n = value.get<long long>();
                    if (n == 1 || n == 8)
                        return "";
                }
                return "must be the number 1 or 8";
        }
        return "is not a setting";
    }

    void store (DocumentSettings& s, const std::string& key, const Json& value)
    {
        if (key == "name")            s.name = value.get<std::string>();
        else if (key == "pin")        s.pin = value.get<std::string>();
        else if (key == "stereo")     s.stereo = value.get<bool>();
        else if (key == "maxDevices") s.maxDevices = static_cast<int> (value.get<long long>());
        else if (key == "gpoNormallyOpen") s.gpoNormallyOpen = value.get<bool>();
        else if (key == "led")        s.led = value.get<bool>();
        else if (key == "frontRestore") s.frontRestore = value.get<bool>();
    }
}

bool parseSettingsDocument (const std::string& text, DocumentSettings& settings, std::string& error)
{
    if (text.size() > maxSettingsDocumentBytes)
    {
        error = "is larger than a settings document can be";
        return false;
    }

    // Without exceptions: a malformed document is discarded, never thrown.
    const Json doc = Json::parse (text, nullptr, false);
    if (doc.is_discarded())
    {
        error = "is not a JSON document";
        return false;
    }

    if (! doc.is_object())
    {
        error = "holds no settings: it must be an object";
        return false;
    }

    const Json* object = &doc;
    const auto settingsIt = doc.find ("settings");

    if (settingsIt != doc.end() || doc.contains ("ok") || doc.contains ("command"))
    {
        // A command's document: only one that succeeded holds settings worth copying.
        const auto ok = doc.find ("ok");
        if (ok == doc.end() || ! ok->is_boolean())
        {
            error = "\"ok\": a command's document must say whether it succeeded";
            return false;
        }
        if (! ok->get<bool>())
        {
            error = "\"ok\" is false: the document is that of a command that failed";
            return false;
        }
        if (settingsIt == doc.end())
        {
            error = "\"settings\": the document holds no settings";
            return false;
        }
        if (! settingsIt->is_object())
        {
            error = "\"settings\" must be an object";
            return false;
        }
        object = &*settingsIt;
    }

    DocumentSettings parsed;
    for (const auto& [key, value] : object->items())
    {
        const Key* known = findKey (key);
        if (known == nullptr)
        {
            error = "\"" + key + "\" is not a setting (name, pin, stereo, maxDevices, gpoNormallyOpen, led, frontRestore)";
            return false;
        }
        if (const auto why = problemWith (*known, value); ! why.empty())
        {
            error = "\"" + key + "\" " + why;
            return false;
        }
        store (parsed, key, value);
    }

    settings = parsed;
    return true;
}
}
