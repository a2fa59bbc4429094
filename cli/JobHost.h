#pragma once
// Where quorvel-flash runs its jobs: the platform's part of running one job
// per port at once (a process per port on POSIX systems, a thread per port
// on Windows). The display, the summary and the station's slots are the
// same on every platform (cli/Runner.cpp, cli/StationRun.cpp); a host only
// starts jobs, brings back what they report and passes the program's hold
// and stop on to them.

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "cli/Flash.h"

namespace quorvel::cli {

// What came from a job: some of its event lines (EncodeEvent, possibly a
// line in part), or its end.
struct JobNews {
  size_t job = 0;
  std::string data;
  bool ended = false;
  int status = 0;        // the job's outcome, when ended
  std::string endedHow;  // when ended: how a job that told no result ended
};

class JobHost {
 public:
  virtual ~JobHost() = default;
  // Ready to start jobs and to be woken by the stop signals; false with
  // `error` set when it cannot be.
  virtual bool Open(std::string& error) = 0;
  // Starts `task` on `port` as job number `job` (0, 1, ... in order); false
  // with `error` set when it cannot start.
  virtual bool Start(size_t job, const std::string& port, const PortTask& task, std::string& error) = 0;
  // Waits up to timeoutMs (-1: without end) for news of the jobs started
  // or a stop signal, and adds the news to `news`. True when the time ran
  // out with nothing come.
  virtual bool Wait(int timeoutMs, std::vector<JobNews>& news) = 0;
  // The job starts no transfer any more and ends its waits; a transfer
  // under way runs to its end.
  virtual void Hold(size_t job) = 0;
  // The job's transfer ends after its current record.
  virtual void Stop(size_t job) = 0;
  // From now on a resized terminal wakes Wait.
  virtual void WatchResize() = 0;
  // True once after the terminal was resized.
  virtual bool TakeResized() = 0;
};

// The platform's host.
std::unique_ptr<JobHost> MakeJobHost();

// Ctrl+C (and its kin) the program has had so far.
int InterruptCount();

// The terminal's width now: the window may be resized at any time.
size_t TerminalColumns();

}  // namespace quorvel::cli
