#pragma once
// What the application needs from the platform beyond JUCE: one implementation
// file per platform.

#include <juce_events/juce_events.h>

#include <memory>

// Under Wine, JUCE's Windows windows hold their repaints until a vertical blank
// that Wine's DXGI never signals, so they would paint once and never change.
// There this returns a running timer that flushes every window's pending
// repaints itself; everywhere else (real Windows included) nullptr.
std::unique_ptr<juce::Timer> startRepaintPumpIfNeeded();
