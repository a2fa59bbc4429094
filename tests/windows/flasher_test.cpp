// quorvel-flash.exe as a user runs it, against the simulated adapters and
// demo devices that tools/windows.sh serves on pseudo-terminals mapped as
// COM ports: QUORVEL_TEST_COM_PORT and QUORVEL_TEST_SECOND_COM_PORT, each
// with a control folder below QUORVEL_TEST_LINES (tests/wine/line_server).

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/win32/WideChars.h"
#include "update/UpdateImage.h"

namespace quorvel {
namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : value;
}

std::string Sample(const char* name) { return std::string(QUORVEL_SAMPLES_DIR) + "/" + name; }

std::vector<uint8_t> ImageOf(const std::string& file) {
  auto image = std::make_unique<UpdateImage>();
  if (LoadUpdateImage(FromUtf8(file), *image) != ImageLoadResult::Loaded) return {};
  return {image->bytes, image->bytes + image->count};
}

// The control folder of the line served as `port` ("\\.\COM7": lines\com7).
std::filesystem::path Control(const std::string& port) {
  std::string name = port.substr(port.find_last_of('\\') + 1);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return std::filesystem::path(Env("QUORVEL_TEST_LINES")) / name;
}

// The records the device behind `port` has accepted in its life, end to
// end, as the line server last wrote them, from byte `from` on.
std::vector<uint8_t> Accepted(const std::string& port, size_t from = 0) {
  std::ifstream in(Control(port) / "accepted", std::ios::binary);
  in.seekg(static_cast<std::streamoff>(from));
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A field of a --json line: a string's text (escapes left as they are) or a
// number's digits; empty when missing or null.
std::string Field(const std::string& line, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const size_t at = line.find(tag);
  if (at == std::string::npos) return {};
  size_t from = at + tag.size();
  if (line.compare(from, 1, "\"") == 0) {
    size_t end = from + 1;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
    return line.substr(from + 1, end - from - 1);
  }
  const size_t end = line.find_first_of(",}", from);
  const std::string value = line.substr(from, end - from);
  return value == "null" ? std::string() : value;
}

struct FlashRun {
  DWORD status = 0;
  std::vector<std::string> lines;  // standard output and error, as they came
  std::string output;
};

// Runs quorvel-flash.exe with `args` until it ends; `onLine` sees each line
// as it comes, with the program's process id.
FlashRun RunFlash(const std::string& args, const std::function<void(const std::string&, DWORD)>& onLine = nullptr,
                  DWORD flags = 0) {
  FlashRun run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring command = WideFromUtf8("\"" QUORVEL_FLASH_PATH "\" " + args);
  PROCESS_INFORMATION process{};
  const BOOL started =
      CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr, &startup, &process);
  CloseHandle(writeEnd);
  if (!started) {
    CloseHandle(readEnd);
    ADD_FAILURE() << "cannot start " << QUORVEL_FLASH_PATH;
    return run;
  }
  std::string pending;
  char buf[4096];
  DWORD got = 0;
  while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) {
    pending.append(buf, got);
    for (size_t nl; (nl = pending.find('\n')) != std::string::npos; pending.erase(0, nl + 1)) {
      std::string line = pending.substr(0, nl);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (onLine) onLine(line, process.dwProcessId);
      run.output += line + "\n";
      run.lines.push_back(std::move(line));
    }
  }
  CloseHandle(readEnd);
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 60000), WAIT_OBJECT_0);
  GetExitCodeProcess(process.hProcess, &run.status);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return run;
}

class FlasherTest : public testing::Test {
 protected:
  void SetUp() override {
    first = Env("QUORVEL_TEST_COM_PORT");
    second = Env("QUORVEL_TEST_SECOND_COM_PORT");
    if (first.empty() || second.empty() || Env("QUORVEL_TEST_LINES").empty()) {
      GTEST_SKIP() << "no COM ports mapped to simulated lines with devices";
    }
    std::filesystem::remove(Control(first) / "removed");
    std::filesystem::remove(Control(second) / "removed");
  }
  std::string first, second;
  const std::string good = Sample("olmar-demo.pkc");
};

// Each port name form, one port and two at once, a CRC failure: the exit
// status, the end's text, and --json lines that parse with their port.
TEST_F(FlasherTest, UpdatesPortsByTheirWindowsNames) {
  struct Case {
    std::string what;
    std::vector<std::string> ports;
    std::string file;
    DWORD status;
    std::string result;
    std::string message;
  };
  const std::string lower = "com" + first.substr(3);
  const std::vector<Case> cases = {
      {"lower-case name", {lower}, good, 0, "success", ""},
      {"two at once, one in the device namespace", {first, "\\\\.\\" + second}, good, 0, "success", ""},
      {"a record the device refuses", {first}, Sample("olmar-bad-crc.pkc"), 7, "crc",
       "Update Error: Data transfer crc error!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string args = "update --json --model olmar";
    std::vector<size_t> before;
    for (const std::string& port : c.ports) {
      args += " --port " + port;
      before.push_back(Accepted(port).size());
    }
    const FlashRun run = RunFlash(args + " \"" + c.file + "\"");
    EXPECT_EQ(run.status, c.status) << run.output;
    for (size_t p = 0; p < c.ports.size(); ++p) {
      const std::string& port = c.ports[p];
      // Every name of the port is shown as its users name it: "COM7".
      const std::string shown = "COM" + port.substr(port.find_first_of("0123456789"));
      int lastProgress = -1;
      std::string result;
      for (const std::string& line : run.lines) {
        ASSERT_TRUE(line.starts_with("{") && line.ends_with("}")) << line;
        if (Field(line, "port") != shown) continue;
        if (!Field(line, "progress").empty()) {
          const int progress = std::stoi(Field(line, "progress"));
          EXPECT_GE(progress, lastProgress) << line;
          lastProgress = progress;
        }
        if (!Field(line, "result").empty()) {
          result = Field(line, "result");
          EXPECT_EQ(Field(line, "status"), std::to_string(c.status)) << line;
          EXPECT_NE(line.find(c.message), std::string::npos) << line;
        }
      }
      EXPECT_EQ(result, c.result) << shown << "\n" << run.output;
      if (c.status == 0) {
        EXPECT_EQ(Accepted(port, before[p]), ImageOf(c.file)) << port;
      }
    }
  }
}

// A station flashes its device once, not again while it stays; once it is
// removed and the next put in, that one is flashed, with a log line each.
TEST_F(FlasherTest, StationFlashesEachDevicePutIn) {
  const std::filesystem::path log = Control(second) / "station.log";
  std::filesystem::remove(log);
  const std::filesystem::path removed = Control(second) / "removed";
  int devicesDone = 0;
  const size_t before = Accepted(second).size();
  const FlashRun run = RunFlash(
      "station --json --model olmar --count 2 --port " + second + " --log \"" + log.string() + "\" \"" + good + "\"",
      [&](const std::string& line, DWORD) {
        if (Field(line, "state") == "done") {
          EXPECT_EQ(Field(line, "result"), "success") << line;
          if (++devicesDone == 1) std::ofstream(removed).put('x');
        } else if (Field(line, "state") == "waiting" && devicesDone == 1) {
          std::filesystem::remove(removed);
        }
      });
  EXPECT_EQ(run.status, 0u) << run.output;
  EXPECT_EQ(devicesDone, 2) << run.output;
  std::ifstream in(log);
  std::vector<std::string> records;
  for (std::string line; std::getline(in, line);) records.push_back(line);
  ASSERT_EQ(records.size(), 2u);
  for (const std::string& record : records) {
    EXPECT_EQ(Field(record, "result"), "success") << record;
    EXPECT_EQ(Field(record, "port"), second) << record;
  }
  const std::vector<uint8_t> image = ImageOf(good);
  std::vector<uint8_t> twice = image;
  twice.insert(twice.end(), image.begin(), image.end());
  EXPECT_EQ(Accepted(second, before), twice);
}

// Ctrl+C during a transfer, in the program's own console: the transfer
// ends whole, the program says so and exits as Ctrl+C does.
TEST_F(FlasherTest, CtrlCWaitsForTheTransfer) {
  bool sent = false;
  const size_t before = Accepted(first).size();
  const FlashRun run = RunFlash(
      "update --json --model olmar --port " + first + " \"" + good + "\"",
      [&](const std::string& line, DWORD pid) {
        if (sent || Field(line, "state") != "transferring") return;
        // Pressed in its console: this process joins it for the event and
        // lets it pass.
        FreeConsole();
        sent = AttachConsole(pid) && SetConsoleCtrlHandler(nullptr, TRUE) &&
               GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
        if (!sent) ADD_FAILURE() << "cannot press Ctrl+C in the program's console: " << GetLastError();
        FreeConsole();
      },
      CREATE_NEW_CONSOLE);
  ASSERT_TRUE(sent) << run.output;
  EXPECT_EQ(run.status, 130u) << run.output;
  EXPECT_NE(run.output.find("finishing the transfers in progress"), std::string::npos) << run.output;
  EXPECT_EQ(Accepted(first, before), ImageOf(good));
}

}  // namespace
}  // namespace quorvel
