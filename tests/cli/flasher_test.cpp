// quorvel-flash as a user runs it: the program in a process of its own,
// against simulated adapters and devices on pseudo-terminals.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "link/Protocol.h"
#include "serial/PortLayer.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "update/UpdateImage.h"

namespace quorvel {
namespace {

using sim::DemoDevice;
using sim::SimulatedDevice;
using sim::SimulatedLine;
using Answer = SimulatedDevice::Answer;

const std::filesystem::path kSamples = QUORVEL_SAMPLES_DIR;

std::string Sample(const char* name) { return (kSamples / name).string(); }

// quorvel-flash running; its output is read line by line as it comes.
class Flash {
 public:
  // `prefix`: a command that runs the program (such as one changing the user).
  explicit Flash(const std::vector<std::string>& args, std::vector<std::string> prefix = {}) {
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) std::abort();
    m_pid = fork();
    if (m_pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      prefix.push_back(QUORVEL_FLASH_PATH);
      std::vector<char*> argv;
      for (const std::string& a : prefix) argv.push_back(const_cast<char*>(a.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    m_out = out[0];
    m_err = err[0];
  }
  ~Flash() {
    if (m_status < 0) {
      kill(m_pid, SIGKILL);
      Wait();
    }
  }

  // The next whole line of stdout; false at its end.
  bool NextLine(std::string& line) {
    for (;;) {
      const auto nl = m_pending.find('\n');
      if (nl != std::string::npos) {
        line = m_pending.substr(0, nl);
        m_pending.erase(0, nl + 1);
        m_lines.push_back(line);
        return true;
      }
      char buf[4096];
      const ssize_t n = read(m_out, buf, sizeof buf);
      if (n <= 0) return false;
      m_pending.append(buf, static_cast<size_t>(n));
    }
  }
  void Signal(int sig) { kill(m_pid, sig); }
  // Reads the rest and returns the exit status.
  int Wait() {
    std::string line;
    while (NextLine(line)) {
    }
    char buf[4096];
    for (ssize_t n; (n = read(m_err, buf, sizeof buf)) > 0;) m_stderr.append(buf, static_cast<size_t>(n));
    int raw = 0;
    waitpid(m_pid, &raw, 0);
    m_status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 1000 + WTERMSIG(raw);
    close(m_out);
    close(m_err);
    return m_status;
  }
  const std::vector<std::string>& Lines() const { return m_lines; }
  std::string Output() const {
    std::string all = m_stderr;
    for (const std::string& l : m_lines) all += l + "\n";
    return all;
  }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  int m_err = -1;
  int m_status = -1;
  std::string m_pending;
  std::string m_stderr;
  std::vector<std::string> m_lines;
};

// A simulated adapter with the demo's device behind it.
struct Adapter {
  explicit Adapter(bool lineRate = false) : device(line, {.lineRate = lineRate}) {}
  SimulatedDevice& Model(int32_t model) { return device.Device(model); }
  SimulatedLine line;
  DemoDevice device;
};

// A --json line: a flat object with exactly the documented keys.
bool IsEventJson(const std::string& line) {
  static const std::regex kEvent(
      R"(\{"port":("[^"]*"|null),"state":("[a-z]+"|null),"version":("[^"]*"|null),)"
      R"("progress":(\d+|null),"result":("[a-z-]+"|null),("status":\d+,)?"message":("([^"\\]|\\.)*"|null)\})");
  return std::regex_match(line, kEvent);
}

std::string Field(const std::string& line, const std::string& key) {
  const std::regex re("\"" + key + R"(":("?)([^",]*)\1[,}])");
  std::smatch m;
  return std::regex_search(line, m, re) ? m[2].str() : std::string();
}

// Every record of the OLMAR I device gets `verdict` (in place of the demo's check).
void Verdicts(Adapter& a, const Answer& verdict) {
  a.Model(protocol::kModel2).SetVerdictFunction(
      [verdict](size_t, const SimulatedDevice::Record&) { return verdict; });
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
    auto image = std::make_unique<UpdateImage>();
    ASSERT_EQ(LoadUpdateImage(FromUtf8(Sample(c.file)), *image), ImageLoadResult::Loaded);
    EXPECT_EQ(a.Model(c.modelValue).AcceptedImage(),
              std::vector<uint8_t>(image->bytes, image->bytes + image->count));
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
      {"missing port", {"--model", "olmar", "--port", "ttyNOSUCH9", "FILE"}, nullptr, 3,
       "/dev/ttyNOSUCH9: no such serial port", true},
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Adapter a;
    if (c.script) c.script(a);
    std::vector<std::string> args{"update"};
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

TEST(Flasher, InterruptStopsBetweenRecordsAndFreesThePort) {
  for (const int sig : {SIGINT, SIGTERM}) {
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
    flash.Signal(sig);
    EXPECT_EQ(flash.Wait(), 130) << flash.Output();
    EXPECT_EQ(Field(flash.Lines().back(), "result"), "interrupted");
    EXPECT_FALSE(device.RecordInProgress());
    EXPECT_GE(device.ReceivedRecords().size(), 1u);
    EXPECT_LT(device.ReceivedRecords().size(), 16u);
    // The port is free for the next program.
    const PortHandle again = PortOpen(a.line.SlavePath(), 19200);
    EXPECT_NE(again, kInvalidPort);
    PortClose(again);
  }
}

}  // namespace
}  // namespace quorvel
