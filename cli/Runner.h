#pragma once
// The pieces that running jobs on ports (cli/Runner.cpp) and a station's
// slots (cli/StationRun.cpp) share, on every platform.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Flash.h"

namespace quorvel::cli {

// A port's job as the program sees it: what it reported last.
struct Job {
  std::string port;
  bool running = false;  // started, and its end has not come yet
  std::string pending;   // a line of its events in part
  Event last;
  bool ended = false;  // a result came, or the job is gone
  int status = 0;
  uint64_t transferStartMs = 0;  // the first record's verdict
  uint64_t transferStartBytes = 0;
  uint64_t lastMs = 0;
  int printedTens = -1;  // lines mode: the last tens of percent printed
  std::string printed;   // lines mode: the last message printed
};

// The whole event lines in `job.pending` after `data`, decoded, in order;
// what is left is a line in part.
std::vector<Event> TakeLines(Job& job, const std::string& data);

// A record has been confirmed: a hold lets the transfer run to its end.
// (One held during the handshake sends nothing.)
bool InTransfer(const Job& job);

// The first Ctrl+C while transfers are under way: once, how long finishing
// them takes and what a second Ctrl+C does.
void SayFinishing(const std::vector<Job>& jobs, const RemainingTime& remaining);

}  // namespace quorvel::cli
