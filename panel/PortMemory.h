#pragma once
// The device family the user named for each port, kept in the user's settings
// file (JUCE's PropertiesFile, in the usual place for each system) so the
// next time the question is asked for that port its answer is the default.
// A settings file that is missing, unreadable or corrupt is ignored and
// written afresh: remembering is a convenience, never an error.

#include <juce_data_structures/juce_data_structures.h>

#include <memory>
#include <optional>

class PortMemory
{
public:
    /** The user's settings file. */
    PortMemory();

    /** Another file (tests). */
    explicit PortMemory (const juce::File& file);

    /** true: the zVARNELO7QX family (115200 baud), false: Rulko/DORU-QX
        (921600); nothing when no answer is known for port. */
    std::optional<bool> slowBaudFor (const juce::String& port) const;

    /** Keeps the answer for port and saves it at once. */
    void remember (const juce::String& port, bool slowBaud);

    /** Where the settings are kept: the user's application data folder
        (~/.config on Linux, %APPDATA% on Windows). */
    static juce::File defaultFile();

private:
    std::unique_ptr<juce::PropertiesFile> settings;
};
