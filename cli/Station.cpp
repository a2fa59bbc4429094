// The station's log lines.

#include "cli/Station.h"

#include <chrono>
#include <cstdio>

namespace quorvel::cli {

std::string UtcTimestamp() {
  using namespace std::chrono;
  const auto now = floor<milliseconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> t{now - day};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02uT%02d:%02d:%02d.%03dZ", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()),
                static_cast<int>(t.hours().count()), static_cast<int>(t.minutes().count()),
                static_cast<int>(t.seconds().count()), static_cast<int>(t.subseconds().count()));
  return buf;
}

std::string LogLine(const LogRecord& r) {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
  std::string line = "{\"time\":" + JsonString(r.time);
  line += ",\"host\":" + JsonString(r.host);
  line += ",\"port\":" + JsonString(r.port);
  line += ",\"adapter_serial\":" + JsonString(r.adapterSerial);
  line += ",\"model\":" + JsonString(r.model);
  line += ",\"file\":" + JsonString(r.file);
  line += ",\"sha256\":" + JsonString(r.sha256);
  line += ",\"version_before\":" + JsonString(r.versionBefore);
  line += ",\"version_after\":" + JsonString(r.versionAfter);
  line += ",\"result\":" + JsonString(r.result);
  line += ",\"status\":" + std::to_string(r.status);
  line += ",\"message\":" + JsonString(r.message);
  line += ",\"seconds\":" + std::string(seconds);
  line += ",\"bytes\":" + std::to_string(r.bytes);
  return line + "}\n";
}

}  // namespace quorvel::cli
