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
  Interrupted = 130, // a signal: nothing sent, or a second Ctrl+C stopped between records
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

// A JSON string literal of a text or a name: always valid UTF-8, a byte
// that is not part of valid UTF-8 written as \u00XX (its Latin-1 reading).
std::string JsonString(const std::string& text);

// One --json line: port, state, version, progress, result, message; a
// station's lines carry the slot's device number (from 1) after the port.
std::string JsonLine(const std::string& port, const Event& event, int device = -1);

// The --json line of an end that no job reported: a usage error, a refusal
// before any job has started, jobs that cannot start.
std::string ResultLine(const std::string& port, Outcome outcome, const std::string& message);

// Where a job's events go.
using EventSink = std::function<void(const Event&)>;

// A port as named on the command line, as the platform opens it. POSIX: a
// path from the root, or from the working directory with "./" or "../", as
// given; a bare name ("ttyUSB0", "pts/3") below /dev/. Windows: "COM5",
// "com5" or "\\.\COM5" as "\\.\COM5", another name in the device
// namespace.
std::string PortDevicePath(const std::string& name);
// The port as its users name it, in everything the program shows and logs:
// the device path on POSIX systems; "COM12" for "\\.\COM12" on Windows.
// PortDevicePath of a label opens the same port.
std::string PortLabel(const std::string& devicePath);
// What tells ports apart: two names of one port (a link to it) give the
// same key.
std::string PortKey(const std::string& devicePath);
// The names the help gives as examples: "/dev/ttyUSB0 or ttyUSB0"; the
// last is the one a usage error gives.
const char* PortNameExamples();

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

// The device path of the first adapter whose device of `model` answers,
// tried as the window's link monitor tries them (link/AdapterRotation.h),
// for up to waitMs but giving every adapter its turn; empty when none
// answered or `stop` ended the search.
std::string AnsweringAdapterPort(int32_t model, uint32_t waitMs, const std::function<bool()>& stop);

// Why `devicePath` cannot be opened, in words a user can act on; empty when
// it looks available.
std::string PortProblem(const std::string& devicePath);

// What a job hears from the program while it runs. `hold` turns true when
// no transfer may start any more (SIGHUP, SIGTERM, Ctrl+C, or the program
// is gone): waits end and nothing is sent, but a transfer already under way
// runs to its end. `stop` turns true on a second Ctrl+C: the transfer ends
// after its current record.
struct JobControl {
  std::function<bool()> hold;
  std::function<bool()> stop;
};

// A job for one port, run in a process of its own. Reports through `sink`
// and returns its outcome.
using PortTask =
    std::function<Outcome(const std::string& port, const EventSink& sink, const JobControl& control)>;

// How long the rest of a transfer takes, from the bytes the device has
// confirmed: at the line rate when every record passes at once, and at most
// (every send of every record used up, each verdict at the end of its waits).
struct TransferTime {
  uint64_t typicalMs = 0;
  uint64_t maxMs = 0;
};
using RemainingTime = std::function<TransferTime(uint64_t confirmedBytes)>;

enum class OutputMode { Bars, Lines, Json };

// What a port's progress bar shows.
struct BarView {
  std::string port;
  int progress = -1;    // -1: no bar, the message instead
  std::string rate;     // "1.9 kB/s", may be empty
  std::string message;  // the job's last step, or its result
  std::string version;
  bool ended = false;   // the message is the result
};

// A bar's line in at most `columns` terminal columns, the port padded to
// `tagWidth`: detail goes first, then the middle of the port name; the
// result text stays whole unless the window is narrower than it.
std::string FitBarLine(const BarView& view, size_t tagWidth, size_t columns);

// Terminal columns of a text or a name (a byte that is not UTF-8 takes one).
size_t TextColumns(const std::string& text);

// `text` in at most `columns` columns, its middle replaced by "…".
std::string ShortenMiddle(const std::string& text, size_t columns);

// Runs `task` on every port at once, one process per port, shows their
// events in `mode` and a summary, and returns the largest exit status, or
// 128+N after a held signal N. `remaining` (update only) tells a first
// Ctrl+C how long the transfers in progress take to finish.
int RunOnPorts(const std::vector<std::string>& ports, const PortTask& task, OutputMode mode,
               const RemainingTime& remaining = nullptr);

// True when standard output is a terminal that can draw the bars.
bool OutputIsTerminal();

// SIGHUP, SIGTERM and SIGINT are held once the handlers are installed: no
// transfer starts any more and every wait ends, while transfers in progress
// run to their end; a second SIGINT stops them between records.
void InstallStopHandlers();
// True once one of them has come.
bool StopRequested();
// The exit status a held signal gives the program (128+N), 0 if none came.
int HeldExitStatus();

// A step of the program's own before its jobs start, such as a wait for
// adapters: one line in `mode`.
void SayWaiting(OutputMode mode, const std::string& message);

// The program's command line, each argument's bytes as a file name takes
// them (UTF-8 on Windows, whatever the console's code page).
std::vector<std::string> ProgramArguments(int argc, char* argv[]);

// From the program's start: writes to a reader that has gone (a closed
// pipe) fail instead of killing the program.
void StartOutput();

// Flushes standard output, noting the first write error for FinishOutput.
void FlushOutput();

// Ends the program's output: a write error on standard output other than a
// reader that has gone (a closed pipe, a hung-up terminal) is told once on
// standard error, and turns a `status` of 0 into 1.
int FinishOutput(int status);

}  // namespace quorvel::cli
