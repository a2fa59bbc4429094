// quorvel-flash as a user runs it: the program in a process of its own,
// against simulated adapters and devices on pseudo-terminals.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "base/Sha256.h"
#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "support/posix/FlashRun.h"
#include "update/UpdateImage.h"

namespace quorvel {
namespace {

using sim::DemoDevice;
using sim::SimulatedDevice;
using sim::SimulatedLine;
using Answer = SimulatedDevice::Answer;

const std::filesystem::path kSamples = QUORVEL_SAMPLES_DIR;

std::string Sample(const char* name) { return (kSamples / name).string(); }

using test::Adapter;
using test::AwaitPortState;
using test::Field;
using test::Flash;
using test::Machine;

// A --json line: a flat object with exactly the documented keys.
bool IsEventJson(const std::string& line) {
  static const std::regex kEvent(
      R"(\{"port":("[^"]*"|null),"state":("[a-z]+"|null),"version":("[^"]*"|null),)"
      R"("progress":(\d+|null),"result":("[a-z-]+"|null),("status":\d+,)?"message":("([^"\\]|\\.)*"|null)\})");
  return std::regex_match(line, kEvent);
}

// Every record of the OLMAR I device gets `verdict` (in place of the demo's check).
void Verdicts(Adapter& a, const Answer& verdict) {
  a.Model(protocol::kModel2).SetVerdictFunction(
      [verdict](size_t, const SimulatedDevice::Record&) { return verdict; });
}

std::vector<uint8_t> ImageOf(const std::string& file) {
  auto image = std::make_unique<UpdateImage>();
  if (LoadUpdateImage(FromUtf8(file), *image) != ImageLoadResult::Loaded) return {};
  return {image->bytes, image->bytes + image->count};
}

struct WholeUpdate {
  const char* model;
  int32_t modelValue;
  const char* file;
  const char* version;  // the version the file installs
};

TEST(Flasher, UpdatesEachModelAndReportsTheNewVersionInJson) {
  for (const WholeUpdate& c : {WholeUpdate{"brenix", protocol::kModel1, "brenix-demo.kyc", "01.30.02"},
                               WholeUpdate{"olmar", protocol::kModel2, "olmar-demo.pkc", "P1.06.00"}}) {
    SCOPED_TRACE(c.file);
    Adapter a;
    // One model's port by its bare name below /dev/ ("pts/5"), as a user types it.
    std::string port = a.line.SlavePath();
    if (c.modelValue == protocol::kModel1 && port.starts_with("/dev/")) port.erase(0, 5);
    Flash flash({"update", "--json", "--model", c.model, "--port", port, Sample(c.file)});
    ASSERT_EQ(flash.Wait(), 0) << flash.Output();
    EXPECT_EQ(a.Model(c.modelValue).AcceptedImage(), ImageOf(Sample(c.file)));
    ASSERT_FALSE(flash.Lines().empty());
    int lastProgress = -1;
    for (const std::string& line : flash.Lines()) {
      ASSERT_TRUE(IsEventJson(line)) << line;
      EXPECT_EQ(Field(line, "port"), a.line.SlavePath());
      const std::string progress = Field(line, "progress");
      if (progress != "null") {
        EXPECT_GE(std::stoi(progress), lastProgress);
        lastProgress = std::stoi(progress);
      }
    }
    EXPECT_EQ(lastProgress, 100);
    const std::string& last = flash.Lines().back();
    EXPECT_EQ(Field(last, "result"), "success");
    EXPECT_EQ(Field(last, "message"), "Updated successfully!");
    EXPECT_EQ(Field(last, "version"), c.version);
  }
}

TEST(Flasher, FlashesTwoPortsAtOnceInAboutTheTimeOfOne) {
  // At the real line rate, so that the wire, not the processor, sets the time.
  const auto timed = [](std::vector<Adapter*> adapters, std::vector<std::string>* lines) {
    std::vector<std::string> args{"update", "--json", "--model", "olmar"};
    for (Adapter* a : adapters) {
      args.push_back("--port");
      args.push_back(a->line.SlavePath());
    }
    args.push_back(Sample("olmar-demo.pkc"));
    const auto start = std::chrono::steady_clock::now();
    Flash flash(args);
    EXPECT_EQ(flash.Wait(), 0) << flash.Output();
    if (lines != nullptr) *lines = flash.Lines();
    return std::chrono::steady_clock::now() - start;
  };
  Adapter one(true), two(true), three(true);
  const auto single = timed({&one}, nullptr);
  std::vector<std::string> lines;
  const auto both = timed({&two, &three}, &lines);
  // The jobs overlap: each port shows progress before the other's result.
  const auto firstOf = [&](const std::string& port, const std::string& needle) {
    for (size_t i = 0; i < lines.size(); ++i) {
      if (Field(lines[i], "port") == port && lines[i].find(needle) != std::string::npos) return i;
    }
    return lines.size();
  };
  const std::string p2 = two.line.SlavePath(), p3 = three.line.SlavePath();
  EXPECT_LT(firstOf(p2, "\"transferring\""), firstOf(p3, "\"result\":\"success\""));
  EXPECT_LT(firstOf(p3, "\"transferring\""), firstOf(p2, "\"result\":\"success\""));
  // Loosely: one after the other would take twice as long.
  EXPECT_LT(both, single * 19 / 10);
  EXPECT_EQ(two.Model(protocol::kModel2).AcceptedImage(), one.Model(protocol::kModel2).AcceptedImage());
  EXPECT_EQ(three.Model(protocol::kModel2).AcceptedImage(), one.Model(protocol::kModel2).AcceptedImage());
}

TEST(Flasher, EachFailureHasItsStatusAndMessage) {
  sim::TempDir dir;
  const std::string invalid = dir.WriteFile("bad.pkc", "0005ZZ").string();
  const std::string empty = dir.WriteFile("empty.pkc", "").string();
  struct Case {
    const char* what;
    std::vector<std::string> args;  // "PORT" and "FILE" are filled in
    std::function<void(Adapter&)> script;
    int status;
    const char* message;
    bool nothingSent;
  };
  const std::string good = Sample("olmar-demo.pkc");
  const Case cases[] = {
      {"unknown model", {"--port", "PORT", "--model", "olmar2", "FILE"}, nullptr, 2, "unknown model 'olmar2'", true},
      {"no file", {"--model", "olmar", "--port", "PORT"}, nullptr, 2, "exactly one update file", true},
      {"missing file", {"--port", "PORT", "--model", "olmar", "/nonexistent.pkc"}, nullptr, 4, "Fail to open the file!", true},
      {"invalid file", {"--port", "PORT", "--model", "olmar", invalid}, nullptr, 4, "Not a valid upgrade file!", true},
      {"other model's file", {"--port", "PORT", "--model", "olmar", Sample("brenix-demo.kyc")}, nullptr, 4,
       "This file is for BRENIX, not for OLMAR I!", true},
      {"empty file", {"--port", "PORT", "--model", "olmar", empty}, nullptr, 4, "The file is empty!", true},
      // A flag is on by being there; a model or a wait is named once, in digits.
      {"flag with a value", {"--model", "olmar", "--port", "PORT", "--all=no", "FILE"}, nullptr, 2,
       "--all takes no value", true},
      {"help with a value", {"--model", "olmar", "--help=foo", "FILE"}, nullptr, 2, "--help takes no value", true},
      {"model twice", {"--model", "brenix", "--port", "PORT", "-m", "olmar", "FILE"}, nullptr, 2,
       "--model given twice", true},
      {"wait with a sign", {"--model", "olmar", "--port", "PORT", "-w", "+5", "FILE"}, nullptr, 2, "--wait takes", true},
      {"wait in hex", {"--model", "olmar", "--port", "PORT", "--wait=0x5", "FILE"}, nullptr, 2, "--wait takes", true},
      {"missing port", {"--model", "olmar", "--port", "ttyNOSUCH9", "--wait", "0", "FILE"}, nullptr, 3,
       "/dev/ttyNOSUCH9: no such serial port", true},
      {"no adapter", {"--model", "olmar", "--all", "--wait", "1", "FILE"}, nullptr, 3,
       "Waiting up to 1 s for an adapter", true},
      {"port opened, no echo", {"--model", "olmar", "--port", "PORT", "--wait", "0", "FILE"},
       [](Adapter& a) { a.line.SetSilent(true); }, 3,
       "opened, but the byte written to it did not come back as the adapter's echo", false},
      {"silent device", {"--model", "olmar", "--port", "PORT", "--wait", "0", "FILE"},
       [](Adapter& a) { a.Model(protocol::kModel2).SetSilent(true); }, 3, "DEVICE Connection Error!", false},
      {"handshake", {"--model", "olmar", "--port", "PORT", "FILE"},
       [](Adapter& a) { a.Model(protocol::kModel2).SetHandshakeAnswer(1, Answer::Silent()); }, 5,
       "Update Error: TX=0xD7, TX Timeover!", false},
      {"transfer", {"--model", "olmar", "--port", "PORT", "FILE"},
       [](Adapter& a) {  // the adapter is pulled in the middle of the second record
         a.Model(protocol::kModel2).SetVerdictFunction([&a](size_t, const SimulatedDevice::Record&) {
           a.line.HangUpAfterBytes(100);
           return Answer::Accept();
         });
       },
       6,
       "Update Error: Data transfer error!", false},
      {"crc", {"--model", "olmar", "--port", "PORT", Sample("olmar-bad-crc.pkc")}, nullptr, 7,
       "Update Error: Data transfer crc error!", false},
      {"repeats", {"--model", "olmar", "--port", "PORT", "FILE"},
       [](Adapter& a) { Verdicts(a, Answer::Reject()); }, 8,
       "Update Error: repeat Data transfer over four time!", false},
      {"no verdict", {"--model", "olmar", "--port", "PORT", "FILE"},
       [](Adapter& a) { Verdicts(a, Answer::Silent()); }, 9,
       "Update Error: No reply from device!", false},
      // A station flashes no device without a record of it.
      {"station log not opened", {"station", "--model", "olmar", "--port", "PORT", "--log", "/nonexistent/s.log", "FILE"},
       nullptr, 1, "cannot open the log /nonexistent/s.log: No such file or directory; nothing was started", true},
      {"station log full", {"station", "--model", "olmar", "--port", "PORT", "--log", "/dev/full", "FILE"}, nullptr, 1,
       "cannot write the log /dev/full: No space left on device. No device starts any more", false},
      {"station file refused", {"station", "--model", "olmar", "--port", "PORT", invalid}, nullptr, 4,
       "Not a valid upgrade file!", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Adapter a;
    if (c.script) c.script(a);
    std::vector<std::string> args;
    if (c.args[0] != "station") args.push_back("update");
    for (const std::string& arg : c.args) {
      args.push_back(arg == "PORT" ? a.line.SlavePath() : arg == "FILE" ? good : arg);
    }
    Flash flash(args);
    EXPECT_EQ(flash.Wait(), c.status) << flash.Output();
    EXPECT_NE(flash.Output().find(c.message), std::string::npos) << flash.Output();
    if (c.nothingSent) {
      EXPECT_EQ(a.line.ReceivedCount(), 0u);
    }
  }
}

TEST(Flasher, SaysWhyItCannotTakeAPort) {
  Adapter a;
  const std::vector<std::string> info{"info", "--model", "olmar", "--port", a.line.SlavePath()};
  const PortHandle held = PortOpen(a.line.SlavePath(), 19200);
  ASSERT_NE(held, kInvalidPort);
  Flash heldElsewhere(info);
  EXPECT_EQ(heldElsewhere.Wait(), 3);
  EXPECT_NE(heldElsewhere.Output().find("held by another program"), std::string::npos)
      << heldElsewhere.Output();
  PortClose(held);

  // Root opens any port: the program then runs as an unprivileged user.
  std::vector<std::string> prefix;
  if (geteuid() == 0) prefix = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
  else ASSERT_EQ(chmod(a.line.SlavePath().c_str(), 0), 0);
  Flash notPermitted(info, prefix);
  const int status = notPermitted.Wait();
  if (status == 126 || status == 127) GTEST_SKIP() << "cannot run the program as nobody here";
  EXPECT_EQ(status, 3);
  EXPECT_NE(notPermitted.Output().find("permission denied. Install the package's udev rule"),
            std::string::npos)
      << notPermitted.Output();
  EXPECT_NE(notPermitted.Output().find("dialout"), std::string::npos);
  EXPECT_EQ(a.line.ReceivedCount(), 0u);
}

TEST(Flasher, SignalsWaitForTheTransferOnlyASecondCtrlCStopsIt) {
  // twice: the second after the program has told the first; whole: the transfer ran to its end.
  struct Case { const char* what; int sig; bool twice; int status; bool whole; };
  const Case cases[] = {{"hang-up", SIGHUP, false, 129, true}, {"SIGTERM", SIGTERM, false, 143, true},
                        {"Ctrl+C", SIGINT, false, 130, true}, {"Ctrl+C twice", SIGINT, true, 130, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Adapter a(true);  // the line rate leaves time to interrupt
    SimulatedDevice& device = a.Model(protocol::kModel2);
    device.SetPartialRecordTimeoutMs(600000);  // a cut record would stay visible
    // The second verdict comes late (within the verdict reads): the signal
    // lands while the transfer is surely under way, however busy the machine.
    device.SetVerdicts({Answer::Accept(), Answer::Accept(3000)});
    Flash flash({"update", "--json", "--model", "olmar", "--port", a.line.SlavePath(), Sample("olmar-demo.pkc")});
    std::string line;
    while (flash.NextLine(line) && Field(line, "state") != "transferring") {
    }
    flash.Signal(c.sig);
    if (c.twice) {
      ASSERT_TRUE(flash.AwaitStderr("Press Ctrl+C again"));
      flash.Signal(c.sig);
    }
    EXPECT_EQ(flash.Wait(), c.status) << flash.Output();
    EXPECT_EQ(Field(flash.Lines().back(), "result"), c.whole ? "success" : "interrupted");
    EXPECT_FALSE(device.RecordInProgress());
    if (c.whole) {
      EXPECT_EQ(device.AcceptedImage(), ImageOf(Sample("olmar-demo.pkc")));
    } else {
      EXPECT_GE(device.ReceivedRecords().size(), 1u);
      EXPECT_LT(device.ReceivedRecords().size(), 16u);
    }
    // Ctrl+C tells once how long finishing takes and what a second one does.
    const std::regex told(R"(finishing the transfers in progress \(about \d+ s, at most \d+ min[^]*)"
                          R"(Ctrl\+C again to stop them[^]*without a complete image)");
    EXPECT_EQ(std::regex_search(flash.Output(), told), c.sig == SIGINT) << flash.Output();
    EXPECT_EQ(flash.Output().find("finishing"), flash.Output().rfind("finishing"));
    // The port is free for the next program.
    const PortHandle again = PortOpen(a.line.SlavePath(), 19200);
    EXPECT_NE(again, kInvalidPort);
    PortClose(again);
  }
}

TEST(Flasher, AJobWhoseProgramIsKilledSendsNothingAndFreesThePort) {
  Adapter a;
  SimulatedDevice& device = a.Model(protocol::kModel2);
  device.SetSilent(true);
  Flash flash({"update", "--json", "--model", "olmar", "--wait", "30", "--port", a.line.SlavePath(),
               Sample("olmar-demo.pkc")});
  std::string line;
  while (flash.NextLine(line) && Field(line, "state") != "waiting") {
  }
  flash.Signal(SIGKILL);
  flash.AwaitEnd();
  // The device answers only now that nobody would hear of an update.
  device.SetSilent(false);
  flash.Wait();  // the job's end: it shares the program's output
  EXPECT_TRUE(device.ReceivedRecords().empty());
  const PortHandle again = PortOpen(a.line.SlavePath(), 19200);
  EXPECT_NE(again, kInvalidPort);
  PortClose(again);
}

TEST(Flasher, OutputErrorsAreToldAtTheEndAndNeverCutATransfer) {
  struct Case { const char* what; const char* shell; int status; bool told; };  // shell: runs "$0" "$@"
  const Case cases[] = {{"full disk", R"(exec "$0" "$@" >/dev/full)", 1, true},
                        {"closed pipe", R"(set -o pipefail; "$0" "$@" | true)", 0, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> shell{"/bin/bash", "-c", c.shell};
    Adapter a;
    Flash update({"update", "--json", "--model", "olmar", "--port", a.line.SlavePath(), Sample("olmar-demo.pkc")},
                 shell);
    Flash help({"--help"}, shell);
    for (Flash* f : {&update, &help}) {
      EXPECT_EQ(f->Wait(), c.status) << f->Output();
      const std::string out = f->Output();  // told once
      EXPECT_EQ(out.find("cannot write the output: No space left on device") != std::string::npos, c.told) << out;
      EXPECT_EQ(out.find("cannot write"), out.rfind("cannot write"));
    }
    EXPECT_EQ(a.Model(protocol::kModel2).AcceptedImage(), ImageOf(Sample("olmar-demo.pkc")));
  }
}

TEST(Flasher, WaitsForANamedPortThatAppearsLateAndNotForAdaptersBesideIt) {
  sim::TempDir dir;
  const std::string late = (dir.Path() / "ttyLATE").string();
  Adapter a;
  Flash waiting({"update", "--json", "--model", "olmar", "--wait", "10", "--port", late, Sample("olmar-demo.pkc")});
  std::string line;
  while (waiting.NextLine(line) && Field(line, "message").find("to appear") == std::string::npos) {
  }
  std::filesystem::create_symlink(a.line.SlavePath(), late);
  EXPECT_EQ(waiting.Wait(), 0) << waiting.Output();
  EXPECT_EQ(a.Model(protocol::kModel2).AcceptedImage(), ImageOf(Sample("olmar-demo.pkc")));

  // No adapter on the machine: the named port starts at once.
  Adapter b;
  const auto start = std::chrono::steady_clock::now();
  Flash both({"update", "--model", "olmar", "--all", "--port", b.line.SlavePath(), Sample("olmar-demo.pkc")});
  EXPECT_EQ(both.Wait(), 0) << both.Output();
  EXPECT_EQ(both.Output().find("for an adapter"), std::string::npos) << both.Output();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(Flasher, EveryJsonCommandEndsWithAResultLineInUtf8) {
  sim::TempDir dir;
  const std::string invalid = dir.WriteFile("bad.pkc", "0005ZZ").string();
  // Names on Linux are bytes: one in Latin-1 opens as given.
  const std::string latin1 = (dir.Path() / "fw\xE9.pkc").string();
  std::filesystem::copy_file(Sample("olmar-demo.pkc"), latin1);
  const struct {
    std::vector<std::string> args;
    int status;
    const char* inLastLine;
  } cases[] = {
      {{"list", "--json"}, 0, "\"ports\":"},
      {{"check", "--json", "--model", "olmar", latin1}, 0, "fw\\u00e9.pkc\",\"model\":\"OLMAR I\",\"records\":16"},
      {{"check", "--json", "--model", "olmar", invalid}, 4, "Not a valid upgrade file!"},
      {{"check", "--json", "--model", "olmar", "/nonexistent.pkc"}, 4, "Fail to open the file!"},
      {{"check", "--json", latin1}, 2, "check needs --model"},
      {{"update", "--json", "--model", "olmar", "--wait", "x", latin1}, 2, "--wait takes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    Flash flash(c.args);
    EXPECT_EQ(flash.Wait(), c.status) << flash.Output();
    ASSERT_FALSE(flash.Lines().empty()) << flash.Output();
    // Strict JSON parsers refuse anything but UTF-8.
    for (const std::string& line : flash.Lines()) EXPECT_EQ(ToUtf8(FromUtf8(line)), line);
    EXPECT_EQ(Field(flash.Lines().back(), "status"), std::to_string(c.status)) << flash.Lines().back();
    EXPECT_NE(flash.Lines().back().find(c.inLastLine), std::string::npos) << flash.Lines().back();
  }
}

// quorvel-flash on a terminal `columns` wide, narrowed to `narrowTo` once the
// transfer shows progress. Returns the lines drawn, control sequences taken out.
std::vector<std::string> RunOnTerminal(const std::vector<std::string>& args, unsigned short columns,
                                       unsigned short narrowTo, int& status) {
  winsize ws{.ws_row = 24, .ws_col = columns, .ws_xpixel = 0, .ws_ypixel = 0};
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, &ws);
  if (pid == 0) {
    setenv("TERM", "xterm", 1);
    std::vector<char*> argv{const_cast<char*>(QUORVEL_FLASH_PATH)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
  }
  std::string raw;
  char buf[4096];
  for (ssize_t n; (n = read(master, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);) {
    raw.append(buf, static_cast<size_t>(std::max<ssize_t>(n, 0)));
    if (narrowTo != 0 && raw.find('%') != std::string::npos) {
      ws.ws_col = std::exchange(narrowTo, 0);
      ioctl(master, TIOCSWINSZ, &ws);
    }
  }
  close(master);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 1000;
  std::vector<std::string> lines{""};
  for (const char c : std::regex_replace(raw, std::regex("\x1b\\[[0-9;]*[A-Za-z]|\r"), "")) {
    if (c == '\n') lines.emplace_back();
    else lines.back() += c;
  }
  return lines;
}

TEST(Flasher, BarsFitTheWindowAsItChangesAndTheSummaryFollows) {
  const struct {
    unsigned short columns, narrowTo;
    bool reject;
    int status;
    const char* result;  // whole on the last bar and in the summary
  } cases[] = {{120, 45, false, 0, "Updated successfully!"},
               {60, 0, true, 8, "Update Error: repeat Data transfer over four time!"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.result);
    Adapter a(true);
    if (c.reject) Verdicts(a, Answer::Reject());
    sim::TempDir dir;
    // As long as a name below /dev/serial/by-id/, and not UTF-8.
    const std::string port = (dir.Path() / "usb-Silicon_Labs_CP2102_\xE9_Bridge_0001-if00-port0").string();
    std::filesystem::create_symlink(a.line.SlavePath(), port);
    int status = -1;
    const std::vector<std::string> lines = RunOnTerminal(
        {"update", "--model", "olmar", "--port", port, Sample("olmar-demo.pkc")}, c.columns, c.narrowTo, status);
    EXPECT_EQ(status, c.status);
    const auto summary = std::find_if(lines.begin() + 1, lines.end(),
                                      [](const std::string& l) { return l.starts_with("Summary:"); });
    ASSERT_NE(summary, lines.end());
    for (auto it = lines.begin(); it != summary; ++it) EXPECT_LT(FromUtf8(*it).size(), c.columns) << *it;
    const std::string& lastBar = *(summary - 1);
    EXPECT_LT(FromUtf8(lastBar).size(), c.narrowTo != 0 ? c.narrowTo : c.columns) << lastBar;
    EXPECT_NE(lastBar.find(c.result), std::string::npos) << lastBar;
    EXPECT_NE(lastBar.find("\u2026"), std::string::npos) << lastBar;  // the port, shortened
    EXPECT_NE((summary + 1)->find(c.result), std::string::npos) << *(summary + 1);
  }
}

// Polls a condition of the simulated device (it changes on its own thread)
// until it holds, for at most 15 s.
bool Eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    usleep(20000);
  }
  return true;
}

// Reads --json lines until one has `state` (and `device`, when given).
bool AwaitState(Flash& flash, const std::string& state, const std::string& device = "") {
  std::string line;
  while (flash.NextLine(line)) {
    if (Field(line, "state") == state && (device.empty() || Field(line, "device") == device)) return true;
  }
  return false;
}

std::string Sha256Of(const std::string& file) {
  const std::vector<uint8_t> bytes = [&] {
    std::ifstream in(file, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }();
  Sha256 hash;
  hash.Add(bytes.data(), bytes.size());
  return hash.Hex();
}

std::vector<std::string> LogLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Station, FlashesADeviceOnceWhileItStaysAgainWhenReplacedAndLogsEach) {
  // unplug: the named port itself disappears (its name below the device
  // folder gone) and comes back; else the device alone is taken away.
  for (const bool unplug : {false, true}) {
    SCOPED_TRACE(unplug ? "named port gone and back" : "device replaced");
    sim::TempDir dir;
    const std::string log = (dir.Path() / "station.log").string();
    Machine m;
    const std::unique_ptr<Adapter> a = m.Plug("ttyUSB0", "0001", false, false);
    SimulatedDevice& device = a->Model(protocol::kModel2);
    Flash flash({"station", "--json", "--model", "olmar", "--port", unplug ? "ttyUSB0" : a->line.SlavePath(), "--log",
                 log, "--count", "2", Sample("olmar-demo.pkc")},
                {}, m.Env());
    const std::string port = unplug ? m.Path("ttyUSB0") : a->line.SlavePath();
    ASSERT_TRUE(AwaitState(flash, "remove", "1")) << flash.Output();
    // It stays: probed on and on, never flashed again.
    const size_t probes = device.ProbeCount(), records = device.ReceivedRecords().size();
    ASSERT_TRUE(Eventually([&] { return device.ProbeCount() >= probes + 6; }));
    EXPECT_EQ(device.ReceivedRecords().size(), records);
    EXPECT_EQ(LogLines(log).size(), 1u);  // on the disk before the result was shown
    // Taken away, and another put in its place.
    if (unplug) a->line.HangUp();
    else device.SetSilent(true);
    ASSERT_TRUE(AwaitState(flash, "waiting", "2")) << flash.Output();
    if (unplug) a->line.Replug();
    else device.SetSilent(false);
    EXPECT_EQ(flash.Wait(), 0) << flash.Output();  // --count 2 reached
    for (const std::string& line : flash.Lines()) {
      EXPECT_NE(Field(line, "device"), "") << line;
      EXPECT_EQ(Field(line, "port"), port) << line;
    }

    // The log's lines, field by field, in their order.
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 2u);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const char* before[] = {"P1.05.12", "P1.06.00"};
    for (size_t i = 0; i < lines.size(); ++i) {
      SCOPED_TRACE(lines[i]);
      const std::regex form(
          R"(\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z","host":"[^"]*","port":"[^"]*","adapter_serial":"[^"]*",)"
          R"("model":"olmar","file":"[^"]*","sha256":"[0-9a-f]{64}","version_before":"[^"]*","version_after":"[^"]*",)"
          R"("result":"[a-z-]+","status":\d+,"message":"[^"]*","seconds":\d+\.\d{3},"bytes":\d+\})");
      EXPECT_TRUE(std::regex_match(lines[i], form));
      EXPECT_EQ(Field(lines[i], "host"), host);
      EXPECT_EQ(Field(lines[i], "port"), port);
      EXPECT_EQ(Field(lines[i], "file"), Sample("olmar-demo.pkc"));
      EXPECT_EQ(Field(lines[i], "sha256"), Sha256Of(Sample("olmar-demo.pkc")));
      EXPECT_EQ(Field(lines[i], "version_before"), before[i]);
      EXPECT_EQ(Field(lines[i], "version_after"), "P1.06.00");
      EXPECT_EQ(Field(lines[i], "result"), "success");
      EXPECT_EQ(Field(lines[i], "status"), "0");
      EXPECT_EQ(Field(lines[i], "message"), "Updated successfully!");
      EXPECT_GT(std::stod(Field(lines[i], "seconds")), 0.0);
      EXPECT_EQ(Field(lines[i], "bytes"), std::to_string(ImageOf(Sample("olmar-demo.pkc")).size()));
    }
  }
}

TEST(Station, AllTakesAdaptersAsTheyArePluggedAndEndsTheSlotsOfThoseUnplugged) {
  sim::TempDir dir;
  const std::string log = (dir.Path() / "station.log").string();
  Machine m;
  Flash flash({"station", "--json", "--model", "olmar", "--all", "--log", log, Sample("olmar-demo.pkc")}, {}, m.Env());
  std::string line;
  while (flash.NextLine(line) && Field(line, "message").find("No adapter") == std::string::npos) {
  }
  // Plugged in while the station runs: a slot, and its device flashed.
  const std::unique_ptr<Adapter> a = m.Plug("ttyUSB0", "A0001");
  ASSERT_TRUE(AwaitPortState(flash, m.Path("ttyUSB0"), "remove", "1")) << flash.Output();
  EXPECT_EQ(a->Model(protocol::kModel2).AcceptedImage(), ImageOf(Sample("olmar-demo.pkc")));
  // One at the line rate, unplugged during its transfer: failed, logged, its slot ended.
  const std::unique_ptr<Adapter> b = m.Plug("ttyUSB1", "B0002", true);
  b->Model(protocol::kModel2).SetVerdicts({Answer::Accept(), Answer::Accept(3000)});
  ASSERT_TRUE(AwaitPortState(flash, m.Path("ttyUSB1"), "transferring")) << flash.Output();
  m.Unplug(*b, "ttyUSB1");
  ASSERT_TRUE(AwaitPortState(flash, m.Path("ttyUSB1"), "ended")) << flash.Output();
  // One waiting for its device's removal.
  m.Unplug(*a, "ttyUSB0");
  ASSERT_TRUE(AwaitPortState(flash, m.Path("ttyUSB0"), "ended")) << flash.Output();
  while (flash.NextLine(line) && Field(line, "message").find("No adapter") == std::string::npos) {
  }
  flash.Signal(SIGTERM);
  EXPECT_EQ(flash.Wait(), 143) << flash.Output();

  const std::vector<std::string> lines = LogLines(log);
  ASSERT_EQ(lines.size(), 2u) << flash.Output();
  EXPECT_EQ(Field(lines[0], "port"), m.Path("ttyUSB0"));
  EXPECT_EQ(Field(lines[0], "adapter_serial"), "A0001");
  EXPECT_EQ(Field(lines[0], "result"), "success");
  EXPECT_EQ(Field(lines[1], "port"), m.Path("ttyUSB1"));
  EXPECT_EQ(Field(lines[1], "adapter_serial"), "B0002");
  EXPECT_NE(Field(lines[1], "status"), "0");
  EXPECT_NE(Field(lines[1], "result"), "interrupted");
  EXPECT_NE(Field(lines[1], "message"), "");
}

TEST(Station, TwoSlotsAtTheirOwnPacesEachCountTheirDevicesUntilCountIsReached) {
  sim::TempDir dir;
  const std::string log = (dir.Path() / "station.log").string();
  Machine m;
  // The slow one at the line rate; the quick one's devices replaced twice meanwhile.
  const std::unique_ptr<Adapter> slow = m.Plug("ttyUSB0", "S", true), quick = m.Plug("ttyUSB1", "Q");
  SimulatedDevice& replaced = quick->Model(protocol::kModel2);
  Flash flash({"station", "--json", "--model", "olmar", "--log", log, "--count", "4", Sample("olmar-demo.pkc")}, {},
              m.Env());
  for (const char* device : {"1", "2"}) {
    ASSERT_TRUE(AwaitPortState(flash, m.Path("ttyUSB1"), "remove", device)) << flash.Output();
    replaced.SetSilent(true);
    ASSERT_TRUE(AwaitPortState(flash, m.Path("ttyUSB1"), "waiting", device == std::string("1") ? "2" : "3"));
    replaced.SetSilent(false);
  }
  EXPECT_EQ(flash.Wait(), 0) << flash.Output();  // 3 + 1 devices
  std::map<std::string, int> passed;
  for (const std::string& line : LogLines(log)) {
    EXPECT_EQ(Field(line, "result"), "success") << line;
    ++passed[Field(line, "port")];
  }
  EXPECT_EQ(passed[m.Path("ttyUSB0")], 1);
  EXPECT_EQ(passed[m.Path("ttyUSB1")], 3);
  EXPECT_EQ(slow->Model(protocol::kModel2).AcceptedImage(), ImageOf(Sample("olmar-demo.pkc")));
}

TEST(Station, AFailedDeviceIsLoggedAndWaitedOutAndSignalsWaitForTheTransfer) {
  // twice: a second Ctrl+C once the first was told, which stops between records.
  struct Case { const char* what; bool reject; int sig; bool twice; const char* result; int status; };
  const Case cases[] = {{"refused records, then SIGTERM", true, SIGTERM, false, "repeats", 143},
                        {"hang-up during the transfer", false, SIGHUP, false, "success", 129},
                        {"Ctrl+C twice during the transfer", false, SIGINT, true, "interrupted", 130}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::TempDir dir;
    const std::string log = (dir.Path() / "station.log").string();
    Adapter a(!c.reject);  // at the line rate, the signal surely lands during the transfer
    SimulatedDevice& device = a.Model(protocol::kModel2);
    if (c.reject) Verdicts(a, Answer::Reject());
    else device.SetVerdicts({Answer::Accept(), Answer::Accept(3000)});
    Flash flash({"station", "--json", "--model", "olmar", "--port", a.line.SlavePath(), "--log", log,
                 Sample("olmar-demo.pkc")});
    if (c.reject) {
      ASSERT_TRUE(AwaitState(flash, "remove")) << flash.Output();
      const size_t probes = device.ProbeCount(), records = device.ReceivedRecords().size();
      ASSERT_TRUE(Eventually([&] { return device.ProbeCount() >= probes + 6; }));
      EXPECT_EQ(device.ReceivedRecords().size(), records);
    } else {
      ASSERT_TRUE(AwaitState(flash, "transferring")) << flash.Output();
    }
    flash.Signal(c.sig);
    if (c.twice) {
      ASSERT_TRUE(flash.AwaitStderr("Press Ctrl+C again")) << flash.Output();
      flash.Signal(c.sig);
    }
    EXPECT_EQ(flash.Wait(), c.status) << flash.Output();
    const std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(Field(lines[0], "result"), c.result);
    EXPECT_FALSE(device.RecordInProgress());
    if (c.twice) {
      EXPECT_LT(device.ReceivedRecords().size(), 16u);
    } else if (!c.reject) {
      EXPECT_EQ(device.AcceptedImage(), ImageOf(Sample("olmar-demo.pkc")));
    }
  }
}

}  // namespace
}  // namespace quorvel
