#pragma once
// quorvel-flash run as a user runs it, in a process of its own, against
// simulated adapters: for the flasher's tests and the station's benchmark.
// The including program defines QUORVEL_FLASH_PATH.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/TempDir.h"
#include "support/FakeSysfs.h"

namespace quorvel::test {

// quorvel-flash running; its output is read line by line as it comes.
class Flash {
 public:
  // `prefix`: a command that runs the program (such as one changing the user);
  // `env`: "NAME=value" entries added to the program's environment.
  explicit Flash(const std::vector<std::string>& args, std::vector<std::string> prefix = {},
                 const std::vector<std::string>& env = {}) {
    std::vector<char*> envp;
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    int out[2];
    int err[2];
    if (pipe(out) != 0 || pipe(err) != 0) std::abort();
    m_pid = fork();
    if (m_pid == 0) {
      // A test or benchmark that dies takes its program along, as SIGTERM
      // does: no station is left probing ports that others take next.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      dup2(out[1], STDOUT_FILENO);
      dup2(err[1], STDERR_FILENO);
      prefix.push_back(QUORVEL_FLASH_PATH);
      std::vector<char*> argv;
      for (const std::string& a : prefix) argv.push_back(const_cast<char*>(a.c_str()));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execve(argv[0], argv.data(), envp.data());
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
  pid_t Pid() const { return m_pid; }
  // Lines read so far are let go (a long run would keep them all).
  void ForgetLines() { m_lines.clear(); }
  // Reads stderr until it holds `text`; false at its end.
  bool AwaitStderr(const std::string& text) {
    char buf[4096];
    while (m_stderr.find(text) == std::string::npos) {
      const ssize_t n = read(m_err, buf, sizeof buf);
      if (n <= 0) return false;
      m_stderr.append(buf, static_cast<size_t>(n));
    }
    return true;
  }
  // Until the program's own process has ended (its jobs may live on).
  void AwaitEnd() { siginfo_t info{}; waitid(P_PID, static_cast<id_t>(m_pid), &info, WEXITED | WNOWAIT); }
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
  explicit Adapter(bool lineRate = false, sim::SimulatedLine::Options options = {})
      : line(std::move(options)), device(line, {.lineRate = lineRate}) {}
  sim::SimulatedDevice& Model(int32_t model) { return device.Device(model); }
  sim::SimulatedLine line;
  sim::DemoDevice device;
};

// A field of a flat JSON line, without its quotes; empty when missing.
inline std::string Field(const std::string& line, const std::string& key) {
  const std::regex re("\"" + key + R"(":("?)([^",]*)\1[,}])");
  std::smatch m;
  return std::regex_search(line, m, re) ? m[2].str() : std::string();
}

// A machine of the flasher's own: its ports listed from a fake sysfs, their
// names opened in a folder of links to simulated adapters.
struct Machine {
  FakeSysfs sysfs;
  sim::TempDir dev;
  std::vector<std::string> Env() const {
    return {"QUORVEL_SYSFS_ROOT=" + sysfs.RootString(), "QUORVEL_DEV_ROOT=" + dev.Path().string()};
  }
  std::string Path(const std::string& tty) const { return (dev.Path() / tty).string(); }
  // An adapter at `tty`, listed as a CP210x with `serial` unless `listed` is false.
  std::unique_ptr<Adapter> Plug(const std::string& tty, const std::string& serial, bool lineRate = false,
                                bool listed = true) {
    auto a = std::make_unique<Adapter>(lineRate, sim::SimulatedLine::Options{.linkName = tty, .directory = dev.Path().string()});
    if (listed) sysfs.AddUsbSerial(tty, "10c4", "ea60", "CP2102 USB to UART Bridge Controller", serial);
    return a;
  }
  // Pulled out: gone from the list, its port hung up and its name gone.
  void Unplug(Adapter& a, const std::string& tty) {
    const std::filesystem::path entry = sysfs.Root() / "class/tty" / tty;
    m_entries[tty] = std::filesystem::read_symlink(entry);
    std::filesystem::remove(entry);
    a.line.HangUp();
  }
  // Plugged in again after Unplug: listed once more, on a fresh port.
  void Replug(Adapter& a, const std::string& tty) {
    a.line.Replug();
    std::filesystem::create_symlink(m_entries.at(tty), sysfs.Root() / "class/tty" / tty);
  }

 private:
  std::map<std::string, std::filesystem::path> m_entries;  // of the adapters unplugged
};

// Reads --json lines until one of `port` has `state` (and `device`, when given).
inline bool AwaitPortState(Flash& flash, const std::string& port, const std::string& state, const std::string& device = "") {
  std::string line;
  while (flash.NextLine(line)) {
    if (Field(line, "port") == port && Field(line, "state") == state &&
        (device.empty() || Field(line, "device") == device)) {
      return true;
    }
  }
  return false;
}

}  // namespace quorvel::test
