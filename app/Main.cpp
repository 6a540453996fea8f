// Entry point: the framework's start-up for the application class.

#include "app/KorvaApplication.h"

START_JUCE_APPLICATION (korvaplenvarfirmwareApplication)
