// The serial channel on real pseudo-terminals: raw data, whole-count timed
// reads, exclusive use, closed-channel behaviour and hang-ups.

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <thread>

#include <gtest/gtest.h>

#include "serial/SerialLink.h"
#include "sim/SimulatedLine.h"

namespace quorvel {
namespace {

using sim::SimulatedLine;
using Bytes = std::vector<uint8_t>;

class Stopwatch {
 public:
  int64_t ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start)
        .count();
  }

 private:
  std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

size_t OpenDescriptorCount() {
  size_t count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

class SerialLinkOnPty : public ::testing::Test {
 protected:
  SerialLinkOnPty() { link.deviceDir = line.DeviceDir(); }
  bool Open(uint32_t baud = 19200) { return link.OpenPort(line.PortName(), baud); }

  sim::SimulatedLine line;
  SerialLink link;
};

// --- Line settings and raw data --------------------------------------------

class SerialLinkRates : public SerialLinkOnPty, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SerialLinkRates, OpensRaw8N1AtTheRate) {
  ASSERT_TRUE(Open(GetParam()));
  termios tio{};
  ASSERT_EQ(tcgetattr(link.hPort, &tio), 0);
  const speed_t expected = GetParam() == 1200 ? B1200 : B19200;
  EXPECT_EQ(cfgetispeed(&tio), expected);
  EXPECT_EQ(cfgetospeed(&tio), expected);
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  // The port was left with two stop bits, hardware flow control and
  // hang-up on close; none of it may survive.
  EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS | HUPCL), 0u);
  EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK), 0u);
  EXPECT_EQ(tio.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(tio.c_oflag & OPOST, 0u);
  EXPECT_EQ(tio.c_cc[VMIN], 0);
  EXPECT_EQ(tio.c_cc[VTIME], 0);
}

TEST_P(SerialLinkRates, EveryByteValueCrossesUnchangedBothWays) {
  ASSERT_TRUE(Open(GetParam()));
  Bytes all(256);
  std::iota(all.begin(), all.end(), 0);

  // Out: the largest single transfer (255 bytes), then the last value; the
  // adapter's echo brings each back the other way.
  Bytes echoed(256, 0xEE);
  ASSERT_TRUE(link.WriteBytes(255, all.data()));
  ASSERT_TRUE(link.ReadBytes(255, echoed.data(), 2000));
  ASSERT_TRUE(link.WriteBytes(1, all.data() + 255));
  ASSERT_TRUE(link.ReadBytes(1, echoed.data() + 255, 2000));
  EXPECT_EQ(line.Received(), all);
  EXPECT_EQ(echoed, all);

  // In: values the terminal would treat as control characters, in an order
  // where each sits next to the ones it could combine with (CR LF, XOFF XON).
  Bytes reversed(all.rbegin(), all.rend());
  line.Send(reversed);
  Bytes got(256, 0xEE);
  ASSERT_TRUE(link.ReadBytes(255, got.data(), 2000));
  ASSERT_TRUE(link.ReadBytes(1, got.data() + 255, 2000));
  EXPECT_EQ(got, reversed);
}

INSTANTIATE_TEST_SUITE_P(ModelRates, SerialLinkRates, ::testing::Values(1200u, 19200u));

// --- Opening -----------------------------------------------------------------

TEST_F(SerialLinkOnPty, PortNamesMapToDeviceFiles) {
  struct Case {
    Text name;
    bool opens;
  };
  const Case cases[] = {
      {u"ttySIM0", true}, {u"COM:ttySIM0", false}, {u"", false}, {u"ttyNONE", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    EXPECT_EQ(link.OpenPort(c.name, 19200), c.opens);
    EXPECT_EQ(link.hPort != kInvalidPort, c.opens);
    link.ClosePort();
  }
}

TEST_F(SerialLinkOnPty, RateWithoutConstantIsRefusedAndNothingStaysOpen) {
  const size_t before = OpenDescriptorCount();
  for (const uint32_t rate : {0u, 12345u, 19201u}) {
    EXPECT_FALSE(Open(rate)) << rate;
    EXPECT_EQ(link.hPort, kInvalidPort);
    EXPECT_EQ(ClassifyPortError(link.lastError), PortFailure::Other);
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
  EXPECT_TRUE(Open(19200));
}

TEST_F(SerialLinkOnPty, SecondOpenOfAHeldPortFailsUntilItIsClosed) {
  ASSERT_TRUE(Open());
  SerialLink other;
  other.deviceDir = line.DeviceDir();
  const size_t before = OpenDescriptorCount();
  EXPECT_FALSE(other.OpenPort(line.PortName(), 19200));
  EXPECT_EQ(other.hPort, kInvalidPort);
  EXPECT_EQ(OpenDescriptorCount(), before);

  link.ClosePort();
  EXPECT_TRUE(other.OpenPort(line.PortName(), 19200));
}

TEST_F(SerialLinkOnPty, PortHeldByAnotherProgramIsRefused) {
  // Another program holding the port with an advisory lock only...
  const int locked = open(line.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(locked, 0);
  ASSERT_EQ(flock(locked, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(Open());
  EXPECT_EQ(link.hPort, kInvalidPort);
  EXPECT_EQ(ClassifyPortError(link.lastError), PortFailure::Busy);
  close(locked);

  // ...or with the terminal's exclusive mode only, which does not stop root.
  const int exclusive = open(line.DevicePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(exclusive, 0);
  ASSERT_EQ(ioctl(exclusive, TIOCEXCL), 0);
  EXPECT_FALSE(Open());
  EXPECT_EQ(link.hPort, kInvalidPort);
  EXPECT_EQ(ClassifyPortError(link.lastError), PortFailure::Busy);
  EXPECT_EQ(PortErrorMessage(link.lastError),
            u"The adapter's port " + FromUtf8(line.DevicePath()) +
                u" is held by another program: close that program.");
  ioctl(exclusive, TIOCNXCL);
  close(exclusive);

  EXPECT_TRUE(Open());
  EXPECT_EQ(PortErrorMessage(link.lastError), u"");
}

// Real refusals: no such device; no permission (root is let in anyway, so
// the open drops to an unprivileged user).
TEST_F(SerialLinkOnPty, AFailedOpenKeepsItsReason) {
  EXPECT_FALSE(link.OpenPort(u"ttyNoSuchPort", 19200));
  EXPECT_EQ(link.lastError.error, ENOENT);
  EXPECT_EQ(ClassifyPortError(link.lastError), PortFailure::Gone);
  EXPECT_EQ(PortErrorMessage(link.lastError),
            u"The adapter's port " + FromUtf8(line.DeviceDir()) +
                u"ttyNoSuchPort has gone away: plug the adapter in again.");

  struct stat before {};
  ASSERT_EQ(stat(line.DevicePath().c_str(), &before), 0);
  ASSERT_EQ(chmod(line.DevicePath().c_str(), 0), 0);
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(seteuid(65534), 0);
  }
  const bool opened = link.OpenPort(line.PortName(), 19200);
  if (root && seteuid(0) != 0) std::abort();  // the rest of the run needs root again
  chmod(line.DevicePath().c_str(), before.st_mode & 07777);
  EXPECT_FALSE(opened);
  EXPECT_EQ(PortErrorMessage(link.lastError),
            u"No permission to open the adapter's port " + FromUtf8(line.DevicePath()) +
                u": install the package's udev rule, or add your user to the group dialout and log "
                u"in again.");
}

TEST_F(SerialLinkOnPty, ClosingTwiceIsHarmlessAndThePortCanBeOpenedAgain) {
  ASSERT_TRUE(Open());
  link.ClosePort();
  EXPECT_EQ(link.hPort, kInvalidPort);
  link.ClosePort();
  EXPECT_EQ(link.hPort, kInvalidPort);
  ASSERT_TRUE(Open());
  EXPECT_TRUE(link.SendCommand(0xD4));
}

// --- Timed reads -------------------------------------------------------------

TEST_F(SerialLinkOnPty, ReadOfSevenFailsAfterItsTimeOutWhenOnlyFiveArrive) {
  ASSERT_TRUE(Open());
  line.Send({1, 2, 3, 4, 5});
  uint8_t buffer[7] = {};
  Stopwatch watch;
  EXPECT_FALSE(link.ReadBytes(7, buffer, 1000));
  EXPECT_GE(watch.ElapsedMs(), 1000);
  EXPECT_LT(watch.ElapsedMs(), 3000);
}

TEST_F(SerialLinkOnPty, TimeOutBoundsTheWholeCountNotTheGapBetweenBytes) {
  ASSERT_TRUE(Open());
  for (uint32_t i = 1; i <= 6; ++i) line.Send({static_cast<uint8_t>(i)}, 150 * i);
  uint8_t buffer[6] = {};
  Stopwatch watch;
  EXPECT_FALSE(link.ReadBytes(6, buffer, 500));
  EXPECT_GE(watch.ElapsedMs(), 500);
  EXPECT_LT(watch.ElapsedMs(), 2000);
}

TEST_F(SerialLinkOnPty, BytesAlreadyWaitingAreReadWithoutWaiting) {
  ASSERT_TRUE(Open());
  line.Send({1, 2, 3, 4, 5, 6, 7, 8});
  ASSERT_TRUE(sim::SimulatedLine::WaitForInput(link.hPort, 8));
  uint8_t buffer[7] = {};
  Stopwatch watch;
  ASSERT_TRUE(link.ReadBytes(7, buffer, 5000));
  EXPECT_LT(watch.ElapsedMs(), 1000);
  EXPECT_EQ(Bytes(buffer, buffer + 7), (Bytes{1, 2, 3, 4, 5, 6, 7}));
  // Even a read with no time at all takes what is there.
  ASSERT_TRUE(link.ReadBytes(1, buffer, 0));
  EXPECT_EQ(buffer[0], 8);
}

TEST_F(SerialLinkOnPty, LateBytesAreTakenByTheNextReadAndDiscardedByAPurge) {
  ASSERT_TRUE(Open());
  uint8_t byte = 0xA7;
  line.Send({0x42}, 300);  // answers after the reader has given up
  EXPECT_FALSE(link.ReadBytes(1, &byte, 100));
  EXPECT_EQ(byte, 0xA7) << "a failed one-byte read leaves the buffer as it was";
  ASSERT_TRUE(link.ReadBytes(1, &byte, 2000));
  EXPECT_EQ(byte, 0x42);

  line.Send({0x43});
  ASSERT_TRUE(sim::SimulatedLine::WaitForInput(link.hPort, 1));
  ASSERT_TRUE(link.PurgePort());
  EXPECT_FALSE(link.ReadBytes(1, &byte, 200));
  EXPECT_EQ(byte, 0x42);
}

// --- Commands ----------------------------------------------------------------

TEST_F(SerialLinkOnPty, CommandEchoIsReadButNotCompared) {
  ASSERT_TRUE(Open());
  line.SetEchoMask(0xFF);
  EXPECT_TRUE(link.SendCommand(0x5A));
  EXPECT_EQ(link.rxBuf[0], 0xA5);
  EXPECT_EQ(line.Received(), Bytes{0x5A});
}

TEST_F(SerialLinkOnPty, CommandWithoutEchoFailsAfterTheEchoWait) {
  ASSERT_TRUE(Open());
  line.SetEcho(false);
  Stopwatch watch;
  EXPECT_FALSE(link.SendCommand(0xD4));
  EXPECT_GE(watch.ElapsedMs(), 500);
  EXPECT_LT(watch.ElapsedMs(), 2000);
  EXPECT_EQ(line.Received(), Bytes{0xD4});

  link.skipEcho = 1;
  EXPECT_TRUE(link.SendCommand(0xD5));
}

TEST_F(SerialLinkOnPty, StaleByteIsPurgedBeforeACommandAndNeverTakenForItsEcho) {
  ASSERT_TRUE(Open());
  line.Send({0x99});
  ASSERT_TRUE(sim::SimulatedLine::WaitForInput(link.hPort, 1));
  EXPECT_TRUE(link.SendCommand(0x10));
  EXPECT_EQ(link.rxBuf[0], 0x10);
}

// --- Closed channel and hang-ups --------------------------------------------

struct Operation {
  const char* name;
  std::function<bool(SerialLink&)> run;
};

std::vector<Operation> AllOperations() {
  return {
      {"ReadBytes", [](SerialLink& l) { return l.ReadBytes(1, l.rxBuf, 3000); }},
      {"WriteBytes", [](SerialLink& l) { const uint8_t b = 0x31; return l.WriteBytes(1, &b); }},
      {"SendCommand", [](SerialLink& l) { return l.SendCommand(0xD4); }},
      {"PurgePort", [](SerialLink& l) { return l.PurgePort(); }},
  };
}

TEST_F(SerialLinkOnPty, EveryOperationOnAClosedChannelFailsAtOnceAndSendsNothing) {
  for (const bool wasOpen : {false, true}) {
    if (wasOpen) {
      ASSERT_TRUE(Open());
      link.ClosePort();
    }
    link.rxBuf[0] = 0x5C;
    for (const Operation& op : AllOperations()) {
      SCOPED_TRACE(op.name);
      Stopwatch watch;
      EXPECT_FALSE(op.run(link));
      EXPECT_LT(watch.ElapsedMs(), 300);
    }
    EXPECT_EQ(link.rxBuf[0], 0x5C);
  }
  EXPECT_FALSE(line.WaitForReceived(1, 200));
}

TEST_F(SerialLinkOnPty, EveryOperationFailsPromptlyAfterTheFarEndHangsUp) {
  ASSERT_TRUE(Open());
  line.HangUp();
  for (const Operation& op : AllOperations()) {
    SCOPED_TRACE(op.name);
    Stopwatch watch;
    EXPECT_FALSE(op.run(link));
    EXPECT_LT(watch.ElapsedMs(), 1000);
  }
  EXPECT_NE(link.hPort, kInvalidPort) << "a failed transfer leaves closing to the caller";
  EXPECT_FALSE(Open()) << "the adapter is gone";
}

TEST_F(SerialLinkOnPty, HangUpEndsAReadThatIsWaiting) {
  ASSERT_TRUE(Open());
  std::thread unplug([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    line.HangUp();
  });
  uint8_t byte = 0;
  Stopwatch watch;
  EXPECT_FALSE(link.ReadBytes(1, &byte, 5000));
  EXPECT_LT(watch.ElapsedMs(), 3000);
  unplug.join();
}

TEST_F(SerialLinkOnPty, ReplugGivesAWorkingPortUnderTheSameName) {
  ASSERT_TRUE(Open());
  line.HangUp();
  EXPECT_FALSE(link.SendCommand(0xD4));
  link.ClosePort();
  line.Replug();
  ASSERT_TRUE(Open());
  EXPECT_TRUE(link.SendCommand(0xD4));
  EXPECT_EQ(link.rxBuf[0], 0xD4);
}

}  // namespace
}  // namespace quorvel
