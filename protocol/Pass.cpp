#include "protocol/Pass.h"

#include <chrono>
#include <thread>

void sleepOnePass()
{
    std::this_thread::sleep_for (std::chrono::milliseconds (passSleepMs));
}

void countDownPass (JobContext& worker)
{
    // A goal reached in the last pass stands: only a conversation still
    // waiting runs out of time.
    if (worker.waitTicks != 0 && --worker.waitTicks == 0 && worker.status == JobStatus::Running)
        worker.status = JobStatus::Failed;
}
