#pragma once
// quorvel-flash: the update jobs of the window program, run from the command
// line on one or several ports at once. Shared pieces of the program: exit
// statuses, the events a port's job reports, and the port helpers.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quorvel::cli {

// Exit statuses, one per kind of failure. With several ports the program
// exits with the largest status among them.
enum class Outcome : int {
  Success = 0,
  Failed = 1,        // anything else: ports cannot be listed, a job cannot start
  Usage = 2,         // bad command line: unknown model, option or command
  NoDevice = 3,      // no adapter, port missing, held or not permitted; device silent
  FileRefused = 4,   // file missing, unreadable, not valid or empty
  Handshake = 5,     // "Update Error: TX=0xD6/0xD7, TX Timeover!"
  Transfer = 6,      // "Update Error: Data transfer error!"
  Crc = 7,           // "Update Error: Data transfer crc error!"
  Repeats = 8,       // "Update Error: repeat Data transfer over four time!"
  NoVerdict = 9,     // "Update Error: No reply from device!"
  Interrupted = 130, // Ctrl+C or SIGTERM: stopped between records, port closed
};

// The name of an outcome in --json output ("success", "crc", ...).
const char* OutcomeName(Outcome outcome);

// One step of a port's job, as the job reports it. Empty strings and -1 are
// "not known"; `result` is set on the last event of a job only.
struct Event {
  std::string state;       // "opening", "waiting", "ready", "handshake", "transferring", "done"
  int progress = -1;       // whole percent of the image confirmed
  uint64_t bytes = 0;      // bytes confirmed so far
  uint64_t total = 0;      // bytes of the image
  std::string version;     // the device's version text
  std::string result;      // OutcomeName of the end
  int status = -1;         // exit status of the end
  std::string message;     // the program's own text for this step
};

// One line between a job's process and the program's output.
std::string EncodeEvent(const Event& event);
bool DecodeEvent(const std::string& line, Event& event);

// The text of an errno value.
std::string ErrnoText(int error);

// A JSON string literal of a UTF-8 text.
std::string JsonString(const std::string& text);

// One --json line: port, state, version, progress, result, message.
std::string JsonLine(const std::string& port, const Event& event);

// Where a job's events go.
using EventSink = std::function<void(const Event&)>;

// A port as named on the command line: a path from the root, or from the
// working directory with "./" or "../", as given; a bare name ("ttyUSB0",
// "pts/3") below /dev/.
std::string PortDevicePath(const std::string& name);

// A serial port of the machine's port list.
struct ListedPort {
  std::string ttyName;     // "ttyUSB0"
  std::string devicePath;  // "/dev/ttyUSB0"
  std::string usbIds;      // "10c4:ea60", empty for a port not on USB
  std::string serial;      // USB serial number, may be empty
  std::string product;     // the port list's description of the port
  bool adapter = false;    // discovery would take it
};

// The machine's serial ports; false with `error` set when they cannot be
// listed.
bool ListPorts(std::vector<ListedPort>& ports, std::string& error);

// The device paths of the ports discovery would take, waiting up to waitMs
// for at least one to appear; empty when none did. `stop` ends the wait.
std::vector<std::string> FindAdapterPorts(uint32_t waitMs, const std::function<bool()>& stop,
                                          std::string& error);

// Why `devicePath` cannot be opened, in words a user can act on; empty when
// it looks available.
std::string PortProblem(const std::string& devicePath);

// A job for one port, run in a process of its own. Reports through `sink`
// and returns its outcome; `stopRequested` turns true on Ctrl+C or SIGTERM.
using PortTask =
    std::function<Outcome(const std::string& port, const EventSink& sink,
                          const std::function<bool()>& stopRequested)>;

enum class OutputMode { Bars, Lines, Json };

// Runs `task` on every port at once, one process per port, shows their
// events in `mode` and a summary, and returns the largest exit status.
int RunOnPorts(const std::vector<std::string>& ports, const PortTask& task, OutputMode mode);

// True when standard output is a terminal that can draw the bars.
bool OutputIsTerminal();

// Set from SIGINT and SIGTERM once the handlers are installed.
bool StopRequested();
void InstallStopHandlers();

}  // namespace quorvel::cli
