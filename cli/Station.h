#pragma once
// quorvel-flash station: every device connected to the chosen adapters is
// updated, one after another on each, with a line in the log per device.

#include <cstdint>
#include <string>
#include <vector>

#include "cli/Flash.h"

namespace quorvel::cli {

// One device whose update ended, as the log keeps it.
struct LogRecord {
  std::string time;  // UTC, ISO 8601 with milliseconds
  std::string host;
  std::string port;
  std::string adapterSerial;
  std::string model;  // "brenix" or "olmar"
  std::string file;   // absolute path
  std::string sha256;
  std::string versionBefore;
  std::string versionAfter;  // empty when not read
  std::string result;        // OutcomeName
  int status = 0;
  std::string message;
  double seconds = 0;
  uint64_t bytes = 0;  // of the image, confirmed by the device
};

// The record as one JSON line, its line feed included.
std::string LogLine(const LogRecord& record);

// The time now in UTC: "2026-12-08T00:32:35.123Z".
std::string UtcTimestamp();

// The log file, opened for appending. Each line goes out in one write and
// is on the disk before Append returns, so that stations may share a file
// and a power cut loses no line shown as written.
class StationLog {
 public:
  StationLog() = default;
  ~StationLog();
  StationLog(const StationLog&) = delete;
  StationLog& operator=(const StationLog&) = delete;
  // False with `error` set when the file cannot be opened for appending.
  bool Open(const std::string& path, std::string& error);
  // False with `error` set when the line was not written whole and synced.
  bool Append(const std::string& line, std::string& error);
  const std::string& Path() const { return m_path; }

 private:
  // The open file: a descriptor, or on Windows a handle; -1 when none.
  intptr_t m_file = -1;
  std::string m_path;
};

// The machine's name, for the log.
std::string HostName();

// What a station runs on.
struct StationSetup {
  std::vector<std::string> ports;  // named with --port: waited for when gone
  bool all = false;                // and every adapter, as they come and go
  PortTask namedTask;              // the slot of a named port
  PortTask foundTask;              // the slot of an adapter found: ends when unplugged
  OutputMode mode = OutputMode::Lines;
  uint64_t count = 0;              // successes to end after; 0: no end
  StationLog* log = nullptr;
  LogRecord base;                  // host, model, file and sha256 of every line
  RemainingTime remaining;
};

// Runs the slots until `count` devices succeeded, a signal, or a failure of
// the log; returns 0, 128+N or 1.
int RunStation(const StationSetup& setup);

}  // namespace quorvel::cli
