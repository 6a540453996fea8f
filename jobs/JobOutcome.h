#pragma once
// How each (status, kind) pair of a finished job reaches the user: what the
// panel does before the message box, the box itself, what it does after, and
// the job that follows. Free of any GUI: the command line reads the same texts.

#include "jobs/PortFaultText.h"
#include "protocol/Job.h"

#include <cstdint>
#include <string>

struct JobOutcome
{
    enum class Before { nothing, showIdentity, fillForm, closeProgressDone, noDevice, closeProgressFailed };
    enum class After { nothing, enableButtons, clearDevice };
    enum class FollowUp { none, readConfig, detect };
    enum class Icon { NoIcon, InfoIcon, WarningIcon };    // the message box's, as the window shows it

    Before before = Before::nothing;
    Icon icon = Icon::NoIcon;
    const char* title = nullptr;      // nullptr: no message box
    const char* message = nullptr;
    After after = After::nothing;
    FollowUp followUp = FollowUp::none;
};

/** The row for a finished job. detail refines failures the user can act on
    (refusal, silence, a lost port, the other family's baud rate). */
JobOutcome jobOutcome (JobStatus status, JobKind kind, JobDetail detail = JobDetail::none);

/** A detect found nothing at its baud rate but typeCode answered at the other
    family's: names the device type to choose instead. */
std::string otherFamilyText (uint8_t typeCode, FaultAdvice advice = FaultAdvice::window);
