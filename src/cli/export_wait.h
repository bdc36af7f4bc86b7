// Waiting on an export job from the command line: its progress on the bar until it is done.
#pragma once

#include <chrono>
#include <thread>

#include "cli/progress_bar.h"
#include "export/export_job.h"

namespace cli {

// Shows the job's progress until it is done, then closes the bar unless the job succeeded (a
// success ends the bar at 100 %, so that it reads as complete). Returns the job's result.
inline const Failure& WaitForExport(ExportJob& job, ProgressBar& bar) {
    // A terminal redraws its bar a few dozen times a second at most; more would only cost time.
    constexpr auto kPollPeriod = std::chrono::milliseconds(40);
    while (!job.Done()) {
        bar.Show(static_cast<int>(job.Progress() * 100.0f + 1e-3f));  // 0.57 shows as 57, not 56
        std::this_thread::sleep_for(kPollPeriod);
    }
    const Failure& result = job.Result();
    if (result.Ok()) {
        bar.Show(100);
    }
    bar.Close();
    return result;
}

}  // namespace cli
