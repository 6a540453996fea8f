#pragma once
// How each (status, kind) pair of a finished job reaches the user: what the
// panel does before the message box, the box itself, what it does after, and
// the job that follows.

#include <juce_gui_basics/juce_gui_basics.h>

#include "protocol/Job.h"

struct JobOutcome
{
    enum class Before { nothing, showIdentity, fillForm, closeProgressDone, noDevice, closeProgressFailed };
    enum class After { nothing, enableButtons, clearDevice };
    enum class FollowUp { none, readConfig, detect };

    Before before = Before::nothing;
    juce::MessageBoxIconType icon = juce::MessageBoxIconType::NoIcon;
    const char* title = nullptr;      // nullptr: no message box
    const char* message = nullptr;
    After after = After::nothing;
    FollowUp followUp = FollowUp::none;
};

/** The row for a finished job. detail refines failures the user can act on
    (refusal, silence, a lost port, the other family's baud rate). */
JobOutcome jobOutcome (JobStatus status, JobKind kind, JobDetail detail = JobDetail::none);
