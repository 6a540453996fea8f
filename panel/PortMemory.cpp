#include "panel/PortMemory.h"

namespace
{
    juce::PropertiesFile::Options settingsOptions()
    {
        juce::PropertiesFile::Options options;
        options.applicationName = "Korva Bluetooth Manager";
        options.filenameSuffix = "settings";
        options.storageFormat = juce::PropertiesFile::storeAsXML;
        options.millisecondsBeforeSaving = -1;   // saved when told, not on a timer
        return options;
    }

    juce::String keyFor (const juce::String& port)
    {
        return "family " + port;
    }
}

PortMemory::PortMemory() : PortMemory (defaultFile()) {}

PortMemory::PortMemory (const juce::File& file)
    : settings (std::make_unique<juce::PropertiesFile> (file, settingsOptions()))
{
    // A corrupt file is replaced by a valid one; an unwritable place stays as it is.
    if (! settings->isValidFile() && ! file.isDirectory())
        (void) settings->save();
}

juce::File PortMemory::defaultFile()
{
    return juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
        .getChildFile ("korva-bluetooth-manager")
        .getChildFile ("ports.settings");
}

std::optional<bool> PortMemory::slowBaudFor (const juce::String& port) const
{
    const auto family = settings->getValue (keyFor (port));
    if (family == "zvarnelo")
        return true;
    if (family == "rulko")
        return false;
    return std::nullopt;
}

void PortMemory::remember (const juce::String& port, bool slowBaud)
{
    settings->setValue (keyFor (port), slowBaud ? "zvarnelo" : "rulko");
    (void) settings->getFile().getParentDirectory().createDirectory();
    (void) settings->saveIfNeeded();
}
