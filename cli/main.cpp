// quorvel-flash: the window program's update jobs from the command line, for
// scripts, remote logins and production lines; several devices at once.
//
//   quorvel-flash list
//   quorvel-flash check --model olmar samples/olmar-demo.pkc
//   quorvel-flash info --model olmar --port ttyUSB0
//   quorvel-flash update --model olmar --port ttyUSB0 --port ttyUSB1 firmware.pkc

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/Sha256.h"
#include "base/Version.h"
#include "cli/Flash.h"
#include "cli/Jobs.h"
#include "cli/Station.h"
#include "link/Protocol.h"
#include "serial/PortAccess.h"
#include "update/UpdateFile.h"
#include "update/UpdateImage.h"
#include "update/UpdateMessages.h"

namespace quorvel::cli {
namespace {

constexpr uint32_t kDefaultUpdateWaitS = 30;
constexpr uint32_t kMaxWaitS = 24 * 3600;

constexpr char kUsage[] =
    "Usage: quorvel-flash COMMAND [OPTIONS]\n"
    "\n"
    "Updates the firmware of BRENIX and OLMAR I devices through their USB-to-serial\n"
    "adapter, as the window program does, on one or several ports at once.\n"
    "\n"
    "Commands:\n"
    "  list                                  the serial ports, marking the adapters\n"
    "  check  --model MODEL FILE             check a file's form (the device checks its\n"
    "                                        records); no port is touched\n"
    "  info   --model MODEL [--port PORT]    probe the device, print its version\n"
    "  update --model MODEL [--port PORT]... [--all] FILE\n"
    "                                        wait for the device, then send FILE\n"
    "  station --model MODEL [--port PORT]... [--all] [--log FILE] [--count N] FILE\n"
    "                                        flash every device connected, one after\n"
    "                                        another on each adapter, a log line each\n"
    "\n"
    "Options:\n"
    "  -m, --model MODEL    brenix (1200 baud, .kyc files) or olmar (OLMAR I, 19200\n"
    "                       baud, .pkc files)\n"
    "  -p, --port PORT      a serial port: /dev/ttyUSB0 or ttyUSB0; give it several\n"
    "                       times to update several devices at once. Without --port\n"
    "                       and --all, the first adapter whose device answers.\n"
    "  -a, --all            every adapter found (USB 10c4:ea60 and 10c8:ea61)\n"
    "  -w, --wait SECONDS   how long to wait for the adapter or a named port to\n"
    "                       appear and for the device to answer (update: 30,\n"
    "                       info: 0, a single probe)\n"
    "      --json           one JSON object a line: port, state, version, progress,\n"
    "                       result, message (station: and device, from 1)\n"
    "      --log FILE       station: the log, JSON Lines appended, one line per\n"
    "                       device (default quorvel-station.log)\n"
    "  -n, --count N        station: end once N devices succeeded\n"
    "  -h, --help           this text\n"
    "  -V, --version        the program's version\n"
    "\n"
    "Several ports run at once, each in a process of its own; the exit status is\n"
    "the largest of theirs.\n"
    "\n"
    "A transfer is never cut short by a hang-up (SIGHUP), SIGTERM or a first\n"
    "Ctrl+C: transfers in progress run to their end, nothing more starts, and\n"
    "the program exits 128+N (129, 143, 130). On the first Ctrl+C it says how\n"
    "long finishing takes at most. A second Ctrl+C stops every transfer after its\n"
    "current record, which leaves those devices without a complete image (130).\n"
    "A job whose program is gone starts no transfer.\n"
    "\n"
    "station: each port is a slot that waits for a device (a probe every 500 ms),\n"
    "updates it as update does, logs it, then waits until the device has been\n"
    "removed before it flashes the next one; a device that stays is never flashed\n"
    "twice. Without --port, every adapter, also those plugged in while it runs.\n"
    "It ends after --count successes (0) or on a signal, held as above; a log\n"
    "that cannot be opened or written ends it with 1, no device started.\n"
    "\n"
    "Exit status:\n"
    "    0  success\n"
    "    1  other failure (ports cannot be listed, a job cannot start)\n"
    "    2  bad usage (unknown command, option or model)\n"
    "    3  no adapter or device: no adapter found, port missing, held by another\n"
    "       program or not permitted, device silent\n"
    "    4  file refused: missing, unreadable, not a valid update file, empty,\n"
    "       or named for the other model (.kyc for BRENIX, .pkc for OLMAR I)\n"
    "    5  handshake failed (Update Error: TX=0xD6/0xD7, TX Timeover!)\n"
    "    6  transfer failed (Update Error: Data transfer error!)\n"
    "    7  CRC error reported by the device (Update Error: Data transfer crc error!)\n"
    "    8  a record refused four times (Update Error: repeat Data transfer over four time!)\n"
    "    9  no verdict from the device (Update Error: No reply from device!)\n"
    "  129  hang-up (SIGHUP): the transfers in progress were finished first\n"
    "  130  Ctrl+C: the transfers in progress were finished, or stopped by a second\n"
    "       Ctrl+C\n"
    "  143  SIGTERM: the transfers in progress were finished first\n"
    "\n"
    "A write error on standard output (other than a closed pipe) is told at the\n"
    "end and turns status 0 into 1.\n";

struct Options {
  std::string command;
  int32_t model = protocol::kModelNone;
  std::vector<std::string> ports;
  bool all = false;
  bool json = false;
  bool waitGiven = false;
  uint32_t waitS = 0;
  std::vector<std::string> files;
  std::string log;  // station: the log file, empty before --log
  uint64_t count = 0;
  bool countGiven = false;
};

int UsageError(const Options& o, const std::string& message) {
  std::fprintf(stderr, "quorvel-flash: %s\nTry 'quorvel-flash --help'.\n", message.c_str());
  if (o.json) std::printf("%s\n", ResultLine("", Outcome::Usage, message).c_str());
  return static_cast<int>(Outcome::Usage);
}

// A refusal before any job has started: in --json as a result line of its
// own, else on stderr.
int Refuse(const Options& o, const std::string& port, Outcome outcome, const std::string& message) {
  if (o.json) {
    std::printf("%s\n", ResultLine(port, outcome, message).c_str());
  } else {
    std::fprintf(stderr, "quorvel-flash: %s\n", message.c_str());
  }
  return static_cast<int>(outcome);
}

bool ParseModel(std::string name, int32_t& model) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (name == "brenix") model = protocol::kModel1;
  else if (name == "olmar" || name == "olmar-i" || name == "olmar i") model = protocol::kModel2;
  else return false;
  return true;
}

std::string ModelName(int32_t model) { return ToUtf8(protocol::ModelName(model)); }

// Returns -1 when the command line was taken, else the exit status.
int Parse(int argc, char* argv[], Options& o) {
  // With --json anywhere, even a usage error ends with a result line.
  for (int i = 1; i < argc && std::string_view(argv[i]) != "--"; ++i) {
    if (std::string_view(argv[i]) == "--json") o.json = true;
  }
  bool optionsEnded = false;
  bool modelGiven = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (!optionsEnded && arg.starts_with("--") && arg.find('=') != std::string::npos) {
      const auto equals = arg.find('=');
      value = arg.substr(equals + 1);
      arg.resize(equals);
      hasValue = true;
    }
    const auto takeValue = [&](std::string& out) {
      if (hasValue) {
        out = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    // A flag is on by being there: "--all=no" is a mistake, not "off".
    const bool isFlag = arg == "-h" || arg == "--help" || arg == "-V" || arg == "--version" ||
                        arg == "-a" || arg == "--all" || arg == "--json";
    if (hasValue && isFlag) return UsageError(o, arg + " takes no value");
    if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-") {
      if (o.command.empty()) o.command = arg;
      else o.files.push_back(arg);
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-h" || arg == "--help") {
      // The port names are the platform's.
      std::string usage = kUsage;
      constexpr std::string_view kLinuxPorts = "/dev/ttyUSB0 or ttyUSB0";
      if (const auto at = usage.find(kLinuxPorts); at != std::string::npos) {
        usage.replace(at, kLinuxPorts.size(), PortNameExamples());
      }
      std::fputs(usage.c_str(), stdout);
      return 0;
    } else if (arg == "-V" || arg == "--version") {
      std::printf("quorvel-flash %s\n", QUORVEL_VERSION);
      return 0;
    } else if (arg == "-m" || arg == "--model") {
      if (modelGiven) return UsageError(o, "--model given twice: name one model");
      modelGiven = true;
      std::string name;
      if (!takeValue(name)) return UsageError(o, "--model needs brenix or olmar");
      if (!ParseModel(name, o.model)) {
        return UsageError(o, "unknown model '" + name + "': use brenix or olmar");
      }
    } else if (arg == "-p" || arg == "--port") {
      std::string port;
      if (!takeValue(port) || port.empty()) {
        const std::string examples = PortNameExamples();
        return UsageError(o, "--port needs a port, such as " + examples.substr(examples.rfind(' ') + 1));
      }
      o.ports.push_back(PortLabel(PortDevicePath(port)));
    } else if (arg == "-a" || arg == "--all") {
      o.all = true;
    } else if (arg == "-w" || arg == "--wait") {
      if (o.waitGiven) return UsageError(o, "--wait given twice");
      std::string text;
      errno = 0;
      if (!takeValue(text) || text.empty()) return UsageError(o, "--wait needs a number of seconds");
      // Digits only: strtoul alone would take " 5", "+5" and "0x5".
      const bool digits = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      const unsigned long s = std::strtoul(text.c_str(), nullptr, 10);
      if (!digits || errno != 0 || s > kMaxWaitS) {
        return UsageError(o, "--wait takes whole seconds from 0 to " + std::to_string(kMaxWaitS));
      }
      o.waitS = static_cast<uint32_t>(s);
      o.waitGiven = true;
    } else if (arg == "--json") {
      o.json = true;
    } else if (arg == "--log") {
      if (!o.log.empty()) return UsageError(o, "--log given twice");
      if (!takeValue(o.log) || o.log.empty()) return UsageError(o, "--log needs a file");
    } else if (arg == "-n" || arg == "--count") {
      std::string text;
      errno = 0;
      if (o.countGiven || !takeValue(text) || text.empty()) return UsageError(o, "--count needs a number of devices, once");
      const bool digits = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
      const unsigned long long n = std::strtoull(text.c_str(), nullptr, 10);
      if (!digits || errno != 0 || n == 0) return UsageError(o, "--count takes a whole number of devices from 1");
      o.count = n;
      o.countGiven = true;
    } else {
      return UsageError(o, "unknown option '" + arg + "'");
    }
  }
  if (o.command.empty()) return UsageError(o, "no command given: list, check, info, update or station");
  if (o.command != "station" && (!o.log.empty() || o.countGiven)) {
    return UsageError(o, "--log and --count are the station's");
  }
  return -1;
}

int CommandList(const Options& o) {
  if (o.model != protocol::kModelNone || !o.ports.empty() || o.all || !o.files.empty()) {
    return UsageError(o, "list takes no model, port or file");
  }
  std::vector<ListedPort> ports;
  std::string error;
  if (!ListPorts(ports, error)) return Refuse(o, "", Outcome::Failed, "cannot list the serial ports: " + error);
  size_t width = 0;
  for (const ListedPort& p : ports) width = std::max(width, p.devicePath.size());
  for (const ListedPort& p : ports) {
    if (o.json) {
      std::printf("{\"port\":%s,\"usb\":%s,\"serial\":%s,\"product\":%s,\"adapter\":%s}\n",
                  JsonString(p.devicePath).c_str(),
                  p.usbIds.empty() ? "null" : JsonString(p.usbIds).c_str(),
                  p.serial.empty() ? "null" : JsonString(p.serial).c_str(),
                  JsonString(p.product).c_str(), p.adapter ? "true" : "false");
      continue;
    }
    std::string line = p.devicePath;
    line.resize(width + 2, ' ');
    std::string ids = p.usbIds.empty() ? "-" : p.usbIds;
    ids.resize(11, ' ');
    line += ids + (p.adapter ? "adapter  " : "         ") + p.product;
    if (!p.serial.empty()) line += "  (serial " + p.serial + ")";
    std::printf("%s\n", line.c_str());
  }
  if (o.json) std::printf("{\"ports\":%zu,\"result\":\"success\",\"status\":0,\"message\":null}\n", ports.size());
  else if (ports.empty()) std::fprintf(stderr, "No serial ports found.\n");
  return 0;
}

// check's refusal of its file: on stderr, or as its --json result line.
int CheckRefused(const Options& o, const std::string& message) {
  if (o.json) {
    std::printf("{\"file\":%s,\"model\":\"%s\",\"result\":\"%s\",\"status\":%d,\"message\":%s}\n",
                JsonString(o.files[0]).c_str(), ModelName(o.model).c_str(),
                OutcomeName(Outcome::FileRefused), static_cast<int>(Outcome::FileRefused),
                JsonString(message).c_str());
  } else {
    std::fprintf(stderr, "%s: %s\n", o.files[0].c_str(), message.c_str());
  }
  return static_cast<int>(Outcome::FileRefused);
}

// Takes the one update file named as a job takes it (update/UpdateFile.h).
// Nonzero: the exit status, the refusal (without the file's name) shown
// through `refuse`.
int AcceptFile(const Options& o, UpdateFile& file, const std::function<int(const std::string&)>& refuse) {
  if (o.files.size() != 1) return UsageError(o, "give exactly one update file");
  file = AcceptUpdateFile(FromNameBytes(o.files[0]), o.model);
  if (file.Accepted()) return 0;
  return refuse(ToUtf8(file.Message()));
}

int CommandCheck(const Options& o) {
  if (o.model == protocol::kModelNone) return UsageError(o, "check needs --model brenix or olmar");
  if (!o.ports.empty() || o.all) return UsageError(o, "check touches no port: drop --port and --all");
  UpdateFile file;
  const int status =
      AcceptFile(o, file, [&o](const std::string& message) { return CheckRefused(o, message); });
  if (status != 0) return status;
  const UpdateImage& image = *file.image;
  uint32_t records = 0;
  for ([[maybe_unused]] const UpdateRecord& record : image.Records()) ++records;
  // Ten bit times a byte: each record, then its one-byte verdict.
  const uint32_t baud = protocol::BaudRate(o.model);
  const double lineSeconds = (image.count + records) * 10.0 / baud;
  if (o.json) {
    std::printf("{\"file\":%s,\"model\":\"%s\",\"records\":%u,\"bytes\":%u,\"baud\":%u,"
                "\"line_seconds\":%.1f,\"result\":\"success\",\"status\":0,"
                "\"message\":\"a valid %s update file\"}\n",
                JsonString(o.files[0]).c_str(),
                ModelName(o.model).c_str(), records, image.count, baud, lineSeconds,
                ModelName(o.model).c_str());
    return 0;
  }
  // What was checked, and what was not: the records' contents are the
  // device's to check, so a damaged copy passes here.
  std::printf("%s: readable as an update file for %s\n", o.files[0].c_str(), ModelName(o.model).c_str());
  std::printf("  records:   %u, each within the file and at most 255 bytes\n", records);
  std::printf("  bytes:     %u\n", image.count);
  std::printf("  line time: %.1f s at %u baud (records and verdicts, 10 bit times a byte)\n",
              lineSeconds, baud);
  std::printf("  not checked: what the records hold. The device checks each record and refuses\n"
              "  a damaged one during the update (Update Error: Data transfer crc error!).\n");
  return 0;
}

OutputMode ModeFor(const Options& o) {
  if (o.json) return OutputMode::Json;
  return OutputIsTerminal() ? OutputMode::Bars : OutputMode::Lines;
}

// The ports a command works on: those named, or the adapters found. Ports
// named that cannot be opened refuse the whole command, so that nothing is
// sent anywhere; adapters found but held elsewhere are passed over, as the
// window's discovery passes over them. Nonzero: the exit status.
int ChoosePorts(const Options& o, uint32_t waitMs, std::vector<std::string>& ports) {
  // A port named twice (ttyUSB0 and /dev/ttyUSB0, or through a link) is
  // flashed once.
  std::vector<std::string> seen;
  for (const std::string& port : o.ports) {
    const std::string key = PortKey(port);
    if (std::find(seen.begin(), seen.end(), key) != seen.end()) continue;
    seen.push_back(key);
    ports.push_back(port);
  }
  int refused = 0;
  for (const std::string& port : ports) {
    // A port that is not there yet is waited for within --wait by its job.
    if (waitMs > 0 && CheckPortAccess(port).access == PortAccess::Missing) continue;
    const std::string problem = PortProblem(port);
    if (!problem.empty()) refused = Refuse(o, port, Outcome::NoDevice, "USB Connection Error! " + problem);
  }
  if (refused != 0) return refused;
  if (!ports.empty() && !o.all) return 0;

  // Ports named with --all start at once, with the adapters there now.
  std::string error;
  std::vector<std::string> found = FindAdapterPorts(0, StopRequested, error);
  if (found.empty() && ports.empty() && waitMs > 0) {
    SayWaiting(ModeFor(o), "Waiting up to " + std::to_string(waitMs / 1000u) +
                               " s for an adapter (USB 10c4:ea60 or 10c8:ea61) to be plugged in");
    found = FindAdapterPorts(waitMs, StopRequested, error);
  }
  if (StopRequested()) {
    Refuse(o, "", Outcome::Interrupted, "Interrupted while looking for the adapter");
    return HeldExitStatus();
  }
  std::vector<std::string> held;
  for (const std::string& port : found) {
    if (std::find(ports.begin(), ports.end(), port) != ports.end()) continue;
    const std::string problem = PortProblem(port);
    if (!problem.empty()) {
      held.push_back(problem);
      continue;
    }
    ports.push_back(port);
  }
  // Without --all, the first adapter whose device answers.
  if (!o.all && ports.size() > 1) {
    const std::string answering = AnsweringAdapterPort(o.model, waitMs, StopRequested);
    if (StopRequested()) {
      Refuse(o, "", Outcome::Interrupted, "Interrupted while looking for the device");
      return HeldExitStatus();
    }
    if (answering.empty()) {
      return Refuse(o, "", Outcome::NoDevice,
                    "DEVICE Connection Error! No device answered behind any of the " +
                        std::to_string(ports.size()) + " adapters found; name the port with --port");
    }
    ports.assign(1, answering);
  }
  if (!ports.empty()) {
    for (const std::string& problem : held) {
      if (!o.json) std::fprintf(stderr, "quorvel-flash: passed over %s\n", problem.c_str());
    }
    return 0;
  }
  if (!held.empty()) return Refuse(o, "", Outcome::NoDevice, "USB Connection Error! " + held.front());
  std::string message = "USB Connection Error! No adapter found (USB 10c4:ea60 or 10c8:ea61)";
  if (!error.empty()) message += ": " + error;
  message += "; see quorvel-flash list, or name the port with --port";
  return Refuse(o, "", Outcome::NoDevice, message);
}

int CommandInfo(const Options& o) {
  if (o.model == protocol::kModelNone) return UsageError(o, "info needs --model brenix or olmar");
  if (!o.files.empty()) return UsageError(o, "info takes no file");
  if (o.ports.size() > 1 || o.all) return UsageError(o, "info reads one device: give at most one --port");
  const uint32_t waitMs = (o.waitGiven ? o.waitS : 0) * 1000u;
  std::vector<std::string> ports;
  if (const int status = ChoosePorts(o, waitMs, ports); status != 0) return status;
  return RunOnPorts(ports, MakeInfoTask(o.model, waitMs), ModeFor(o));
}

int CommandUpdate(const Options& o) {
  if (o.model == protocol::kModelNone) return UsageError(o, "update needs --model brenix or olmar");
  // The file first: a refused file touches no port. It is held for the
  // whole run, as the window program holds it for its job.
  UpdateFile file;
  const int status = AcceptFile(o, file, [&o](const std::string& message) {
    return Refuse(o, "", Outcome::FileRefused, o.files[0] + ": " + message);
  });
  if (status != 0) return status;
  const uint32_t waitMs = (o.waitGiven ? o.waitS : kDefaultUpdateWaitS) * 1000u;
  std::vector<std::string> ports;
  if (const int chosen = ChoosePorts(o, waitMs, ports); chosen != 0) return chosen;
  return RunOnPorts(ports, MakeUpdateTask(file, waitMs), ModeFor(o),
                    MakeRemainingTime(o.model, *file.image));
}


// A name of the command line as a path: its bytes as they are on POSIX
// systems, UTF-8 on Windows.
std::filesystem::path NamePath(const std::string& name) {
  return std::filesystem::path(std::u8string(name.begin(), name.end()));
}

std::string PathName(const std::filesystem::path& path) {
  const std::u8string name = path.u8string();
  return {name.begin(), name.end()};
}

// The SHA-256 of the held file's bytes, for the log: read again through
// its hold, which keeps every writer (and on Windows every opener) out.
bool FileSha256(UpdateFile& file, std::string& hex) {
  if (!file.held.Rewind()) return false;
  Sha256 hash;
  uint8_t buf[65536];
  ptrdiff_t got;
  while ((got = file.held.Read(buf, sizeof buf)) > 0) hash.Add(buf, static_cast<size_t>(got));
  if (got < 0) return false;
  hex = hash.Hex();
  return true;
}

int CommandStation(const Options& o) {
  if (o.model == protocol::kModelNone) return UsageError(o, "station needs --model brenix or olmar");
  if (o.waitGiven) return UsageError(o, "station waits for devices without end: drop --wait");
  // The file first, read once and held for the whole run; then the log:
  // no port is touched before both are in hand.
  UpdateFile file;
  const int status = AcceptFile(o, file, [&o](const std::string& message) {
    return Refuse(o, "", Outcome::FileRefused, o.files[0] + ": " + message);
  });
  if (status != 0) return status;
  std::error_code ec;
  const std::string path = PathName(std::filesystem::absolute(NamePath(o.files[0]), ec).lexically_normal());
  std::string sha256;
  if (!FileSha256(file, sha256) || !file.Unchanged()) {
    return Refuse(o, "", Outcome::FileRefused, o.files[0] + ": " + ToUtf8(UpdateMessage(UpdateResult::FileChanged)));
  }
  StationLog log;
  const std::string logPath = o.log.empty() ? "quorvel-station.log" : o.log;
  std::string error;
  if (!log.Open(logPath, error)) {
    return Refuse(o, "", Outcome::Failed, "cannot open the log " + logPath + ": " + error + "; nothing was started");
  }

  StationSetup setup;
  for (const std::string& port : o.ports) {
    if (std::find(setup.ports.begin(), setup.ports.end(), port) == setup.ports.end()) setup.ports.push_back(port);
  }
  setup.all = o.all || o.ports.empty();
  setup.namedTask = MakeStationTask(file, false);
  setup.foundTask = MakeStationTask(file, true);
  setup.mode = ModeFor(o);
  setup.count = o.count;
  setup.log = &log;
  setup.base.host = HostName();
  setup.base.model = o.model == protocol::kModel1 ? "brenix" : "olmar";
  setup.base.file = path;
  setup.base.sha256 = sha256;
  setup.remaining = MakeRemainingTime(o.model, *file.image);
  return RunStation(setup);
}
}  // namespace
}  // namespace quorvel::cli

namespace quorvel::cli {
namespace {

int Run(int argc, char* argv[]) {
  Options o;
  if (const int status = Parse(argc, argv, o); status >= 0) return status;
  if (o.command == "list") return CommandList(o);
  if (o.command == "check") return CommandCheck(o);
  InstallStopHandlers();
  if (o.command == "info") return CommandInfo(o);
  if (o.command == "update") return CommandUpdate(o);
  if (o.command == "station") return CommandStation(o);
  return UsageError(o, "unknown command '" + o.command + "'");
}

}  // namespace
}  // namespace quorvel::cli

int main(int argc, char* argv[]) {
  using namespace quorvel::cli;
  StartOutput();
  std::vector<std::string> args = ProgramArguments(argc, argv);
  std::vector<char*> pointers;
  pointers.reserve(args.size() + 1);
  for (std::string& arg : args) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  return FinishOutput(Run(static_cast<int>(args.size()), pointers.data()));
}
