// Running the per-file work of -j N: a pool of worker processes that take files from a queue
// and report back what each file's work wrote, passed on in file order.
#pragma once

#include <cstddef>
#include <functional>

#include "tsconv/progress.h"

namespace toneshift::tsconv {

// Runs tasks 0..count-1 and returns the worst of their statuses (trouble outranks a
// refusal). With jobs <= 1 they run here, one after the other. Otherwise up to `jobs` worker
// processes (at most kMaxWorkers) are started once and take the tasks from a queue; what a
// task writes to standard output and error is kept and passed on in task order, so that the
// output reads as it would one task at a time. A task that its worker did not finish (the
// worker died) is reported and counts as trouble.
int run_tasks(std::size_t count, unsigned jobs, Progress& progress,
              const std::function<int(std::size_t)>& task);

}  // namespace toneshift::tsconv
