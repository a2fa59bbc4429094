// The serial port layer on POSIX terminals (Linux tty devices, including
// pseudo-terminals). The port is held exclusively, carries raw 8-bit data in
// both directions, and every wait, writes and their drain included, is
// bounded by a monotonic deadline or ends at once when the device goes away.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "serial/BoundedClose.h"
#include "serial/PortLayer.h"

namespace quorvel {
namespace {

uint64_t MonotonicNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(ts.tv_nsec);
}

// Only rates with a termios constant are offered; any other is refused.
bool SpeedConstant(uint32_t baudRate, speed_t* speed) {
  struct Rate {
    uint32_t baud;
    speed_t constant;
  };
  static constexpr Rate kRates[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},
      {150, B150},       {200, B200},       {300, B300},       {600, B600},
      {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
      {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
      {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
  for (const Rate& rate : kRates) {
    if (rate.baud == baudRate) {
      *speed = rate.constant;
      return true;
    }
  }
  return false;
}

// Input flags that would alter, drop or act on data bytes (0x11/0x13 flow
// control, CR/LF mapping, stripping, parity marking).
constexpr tcflag_t kCookedInput =
    IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | INPCK | BRKINT | IMAXBEL;
constexpr tcflag_t kCookedLocal = ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN;

// Raw 8N1: the line carries every byte value unchanged. A line break is not
// data and is ignored; a byte with a framing error still takes its place (as
// 0), so counts stay aligned with what the device sent.
void MakeRaw(termios& tio, speed_t speed) {
  tio.c_iflag &= ~kCookedInput;
  tio.c_iflag |= IGNBRK;
  tio.c_oflag &= ~OPOST;
  tio.c_lflag &= ~kCookedLocal;
  tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS | HUPCL | CMSPAR);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 0;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
}

// What the driver reports back must be what was asked for: a driver that
// silently keeps another rate or framing has refused the settings.
bool IsRawAsAsked(const termios& tio, speed_t speed) {
  return cfgetispeed(&tio) == speed && cfgetospeed(&tio) == speed &&
         (tio.c_cflag & CSIZE) == CS8 && (tio.c_cflag & (PARENB | CSTOPB | CRTSCTS)) == 0 &&
         (tio.c_cflag & (CLOCAL | CREAD)) == (CLOCAL | CREAD) && (tio.c_iflag & kCookedInput) == 0 &&
         (tio.c_lflag & kCookedLocal) == 0 && (tio.c_oflag & OPOST) == 0 && tio.c_cc[VMIN] == 0 &&
         tio.c_cc[VTIME] == 0;
}

int CeilMs(uint64_t ns) {
  const uint64_t ms = (ns + 999'999u) / 1'000'000u;
  return ms > static_cast<uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(ms);
}

// How often the drain is interrupted once its deadline has passed, in case
// the first interruption came before the drain began.
constexpr long kDrainNudgeNs = 10'000'000;

void IgnoreDrainNudge(int) {}

// The signal that ends a drain at its deadline: a handler that does nothing,
// installed once, without automatic restart, so the drain returns EINTR.
int DrainNudgeSignal() {
  static const int signo = [] {
    const int chosen = SIGRTMIN + 2;
    struct sigaction action {};
    action.sa_handler = IgnoreDrainNudge;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(chosen, &action, nullptr);
    return chosen;
  }();
  return signo;
}

// tcdrain, given up at deadlineNs. The drain itself has no time limit, and
// on an adapter that has stopped sending it never ends; a timer of this
// thread interrupts it from the deadline on. With a hook, the timer also
// interrupts it every kWaitHookPeriodMs before that, the hook runs, and the
// drain goes on: it still ends only when the bytes have left.
bool DrainUntil(int port, uint64_t deadlineNs, const WaitHook* whileWaiting) {
  sigevent event{};
  event.sigev_notify = SIGEV_THREAD_ID;
  event.sigev_signo = DrainNudgeSignal();
  event._sigev_un._tid = static_cast<pid_t>(syscall(SYS_gettid));
  timer_t timer{};
  if (timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) return false;
  itimerspec when{};
  const uint64_t hookNs = static_cast<uint64_t>(kWaitHookPeriodMs) * 1'000'000u;
  const uint64_t firstNs =
      whileWaiting != nullptr ? std::min(deadlineNs, MonotonicNs() + hookNs) : deadlineNs;
  when.it_value.tv_sec = static_cast<time_t>(firstNs / 1'000'000'000u);
  when.it_value.tv_nsec = static_cast<long>(firstNs % 1'000'000'000u);
  when.it_interval.tv_nsec = whileWaiting != nullptr ? static_cast<long>(hookNs) : kDrainNudgeNs;
  bool drained = false;
  if (timer_settime(timer, TIMER_ABSTIME, &when, nullptr) == 0) {
    for (;;) {
      if (tcdrain(port) == 0) {
        drained = true;
        break;
      }
      if (errno != EINTR || MonotonicNs() >= deadlineNs) break;
      if (whileWaiting != nullptr) (*whileWaiting)();
    }
  }
  timer_delete(timer);
  return drained;
}

class PosixPort final : public Port {
 public:
  PortHandle Open(const std::string& devicePath, uint32_t baudRate, PortError* error) override;
  void Close(PortHandle port) override;
  bool Purge(PortHandle port) override { return tcflush(port, TCIOFLUSH) == 0; }
  bool DiscardInput(PortHandle port) override { return tcflush(port, TCIFLUSH) == 0; }
  bool WriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                const WaitHook* whileWaiting) override;
  size_t ReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                 const WaitHook* whileWaiting) override;
};

class PosixClock final : public MonotonicClock {
 public:
  uint64_t NowMs() override { return MonotonicNs() / 1'000'000u; }
  void Sleep(uint32_t ms) override;
};

}  // namespace

Port& SystemPort() {
  static PosixPort port;
  return port;
}

MonotonicClock& SystemClock() {
  static PosixClock clock;
  return clock;
}

PortHandle PosixPort::Open(const std::string& devicePath, uint32_t baudRate, PortError* error) {
  // Records the step that failed with its errno.
  const auto refuse = [&](PortStep step, int errorNumber) {
    if (error != nullptr) *error = PortError{devicePath, errorNumber, step};
    return kInvalidPort;
  };
  speed_t speed{};
  if (devicePath.empty()) return refuse(PortStep::Name, ENOENT);
  if (!SpeedConstant(baudRate, &speed)) return refuse(PortStep::Rate, EINVAL);

  const int fd = open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return refuse(PortStep::Open, errno);

  bool exclusiveSet = false;
  const auto fail = [&](PortStep step, int errorNumber) {
    // The exclusive flag outlives the descriptor on some terminals
    // (pseudo-terminals keep it while their other side is open).
    if (exclusiveSet) ioctl(fd, TIOCNXCL);
    close(fd);
    return refuse(step, errorNumber);
  };

  // Exclusive use: the advisory lock keeps out every program that asks for
  // it (root included); TIOCEXCL refuses further opens by anyone but root.
  // A terminal already marked exclusive is held by someone else.
  if (!isatty(fd)) return fail(PortStep::Terminal, errno);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return fail(PortStep::Lock, errno);
  int alreadyExclusive = 0;
  if (ioctl(fd, TIOCGEXCL, &alreadyExclusive) == 0 && alreadyExclusive != 0) {
    return fail(PortStep::Exclusive, EBUSY);
  }
  if (ioctl(fd, TIOCEXCL) != 0) return fail(PortStep::Exclusive, errno);
  exclusiveSet = true;

  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return fail(PortStep::Settings, errno);
  MakeRaw(tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return fail(PortStep::Settings, errno);
  termios applied{};
  if (tcgetattr(fd, &applied) != 0) return fail(PortStep::Settings, errno);
  if (!IsRawAsAsked(applied, speed)) return fail(PortStep::Settings, EINVAL);

  tcflush(fd, TCIOFLUSH);  // leftovers of an earlier user; the result does not matter
  if (error != nullptr) *error = PortError{};
  return fd;
}

void PosixPort::Close(PortHandle port) {
  if (port < 0) return;
  // Output still pending would make the close wait until it is sent, up to
  // the driver's closing wait (30 s on a usb-serial port that has stalled);
  // the flush does not reach bytes already inside the adapter, so the close
  // itself is bounded too.
  tcflush(port, TCOFLUSH);
  ioctl(port, TIOCNXCL);  // fails harmlessly on a hung-up terminal
  const int fd = static_cast<int>(port);
  CloseWithinBound([fd] { close(fd); }, kPortLetGoMs);
}

bool PosixPort::WriteAll(PortHandle port, const uint8_t* data, size_t count, uint32_t timeoutMs,
                         const WaitHook* whileWaiting) {
  const uint64_t deadline = MonotonicNs() + static_cast<uint64_t>(timeoutMs) * 1'000'000u;
  size_t done = 0;
  while (done < count) {
    const ssize_t n = write(port, data + done, count - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // The driver's buffer is full: wait for room until the deadline, and
      // give up at once when the device is gone.
      const uint64_t now = MonotonicNs();
      if (now >= deadline) return false;
      pollfd pfd{static_cast<int>(port), POLLOUT, 0};
      int waitMs = CeilMs(deadline - now);
      if (whileWaiting != nullptr && waitMs > static_cast<int>(kWaitHookPeriodMs)) {
        waitMs = static_cast<int>(kWaitHookPeriodMs);
      }
      const int r = poll(&pfd, 1, waitMs);
      if (r < 0 && errno != EINTR) return false;
      if (r > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) return false;
      if (r == 0 && whileWaiting != nullptr) (*whileWaiting)();
      continue;
    }
    return false;  // EIO, EPIPE, or a driver that takes nothing
  }
  // The write is complete when its bytes have left, not when they are queued:
  // the echo wait that follows counts from here, and at 1200 baud a long
  // record takes longer on the line than that wait.
  return DrainUntil(static_cast<int>(port), deadline, whileWaiting);
}

size_t PosixPort::ReadAll(PortHandle port, uint8_t* buffer, size_t count, uint32_t timeoutMs,
                          const WaitHook* whileWaiting) {
  const uint64_t deadline = MonotonicNs() + static_cast<uint64_t>(timeoutMs) * 1'000'000u;
  size_t got = 0;
  bool hungUp = false;
  while (got < count) {
    // Bytes already waiting are taken before the clock is looked at, so a
    // read whose bytes are all there succeeds at once, whatever its time-out.
    // With VMIN = VTIME = 0 an empty terminal reads 0 bytes rather than
    // EAGAIN; a hang-up is told by poll, and what was left is taken first.
    const ssize_t n = read(port, buffer + got, count - got);
    if (n > 0) {
      got += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return got;  // EIO: device gone
    if (hungUp) return got;

    const uint64_t now = MonotonicNs();
    if (now >= deadline) return got;
    pollfd pfd{static_cast<int>(port), POLLIN, 0};
    int waitMs = CeilMs(deadline - now);
    if (whileWaiting != nullptr && waitMs > static_cast<int>(kWaitHookPeriodMs)) {
      waitMs = static_cast<int>(kWaitHookPeriodMs);
    }
    const int r = poll(&pfd, 1, waitMs);
    if (r < 0) {
      if (errno == EINTR) continue;
      return got;
    }
    if (r == 0 && whileWaiting != nullptr) (*whileWaiting)();
    if ((pfd.revents & POLLNVAL) != 0) return got;
    if ((pfd.revents & (POLLERR | POLLHUP)) != 0) hungUp = true;
  }
  return got;
}

void PosixClock::Sleep(uint32_t ms) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t target = static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u +
                          static_cast<uint64_t>(now.tv_nsec) + static_cast<uint64_t>(ms) * 1'000'000u;
  timespec until{};
  until.tv_sec = static_cast<time_t>(target / 1'000'000'000u);
  until.tv_nsec = static_cast<long>(target % 1'000'000'000u);
  // An absolute deadline: a signal that interrupts the sleep does not
  // shorten or stretch it.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
  }
}

}  // namespace quorvel
