#pragma once
// The body of a job, independent of the thread that runs it: open the job's
// port at its baud rate, run the conversation for its kind and the device type,
// close the port. The GUI's worker thread and the tests both call runJob.

#include "protocol/Job.h"

/** Runs one job to its end; the outcome is left in job.status. */
void runJob (JobContext& job);

/** Makes the module restore its factory defaults and waits for its power-on report. */
void restoreDefaultsConversation (JobContext& job);

/** Receives, acknowledges and traces whatever the module reports, until the exit request. */
void listenConversation (JobContext& job);

/** The conversation that serves a job kind for a device type, or nullptr when none does. */
using Conversation = void (*) (JobContext&);
Conversation conversationFor (JobKind kind, uint8_t typeCode);
