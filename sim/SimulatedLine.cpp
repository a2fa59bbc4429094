#include "sim/SimulatedLine.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <random>
#include <stdexcept>

namespace quorvel::sim {
namespace {

using namespace std::chrono_literals;

// How often the thread looks again while no one holds the slave open: the
// master then reports a hang-up continuously, and cannot be waited on.
constexpr auto kNoOneConnectedRetry = 5ms;
constexpr auto kFloodPeriod = 1ms;
constexpr size_t kFloodChunkUnpaced = 64;
// A full slave input buffer (the program does not read) drops what does not
// fit after this long, as an adapter's buffer would overflow.
constexpr auto kWriteGiveUp = 200ms;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("SimulatedLine: " + what + ": " + std::to_string(errno));
}

timespec ToTimespec(std::chrono::nanoseconds d) {
  if (d < std::chrono::nanoseconds::zero()) d = std::chrono::nanoseconds::zero();
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(d);
  return timespec{static_cast<time_t>(secs.count()), static_cast<long>((d - secs).count())};
}

// Settings a careless earlier user could leave on a port: every one of them
// alters or swallows some byte values unless the port layer clears it.
void MakeCooked(int fd) {
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) Fail("tcgetattr slave");
  tio.c_iflag |= IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | INPCK | BRKINT;
  tio.c_oflag |= OPOST | ONLCR | OCRNL;
  tio.c_lflag |= ECHO | ECHOE | ECHOK | ICANON | ISIG | IEXTEN;
  tio.c_cflag |= CSTOPB | CRTSCTS | HUPCL | PARENB | PARODD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 5;
  cfsetispeed(&tio, B38400);
  cfsetospeed(&tio, B38400);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) Fail("tcsetattr slave");
}

// Ten bit times at the rate the program set on the slave, which the master
// reports too; zero for a rate it does not know.
std::chrono::nanoseconds PortByteTime(int master) {
  static constexpr std::pair<speed_t, uint32_t> kRates[] = {
      {B300, 300},     {B600, 600},     {B1200, 1200},     {B2400, 2400},     {B4800, 4800},
      {B9600, 9600},   {B19200, 19200}, {B38400, 38400},   {B57600, 57600},   {B115200, 115200}};
  termios tio{};
  if (tcgetattr(master, &tio) != 0) return std::chrono::nanoseconds::zero();
  for (const auto& [speed, baud] : kRates) {
    if (speed == cfgetospeed(&tio)) return std::chrono::nanoseconds(10'000'000'000LL / baud);
  }
  return std::chrono::nanoseconds::zero();
}

}  // namespace

SimulatedLine::SimulatedLine() : SimulatedLine(Options{}) {}

SimulatedLine::SimulatedLine(Options options)
    : m_linkName(std::move(options.linkName)),
      m_deviceDir((options.directory.empty() ? m_ownDir.Path().string() : options.directory) + "/"),
      m_echo(options.echo),
      m_echoOnTheWire(options.echoOnTheWire) {
  m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (m_wakeFd < 0) Fail("eventfd");
  SetLineRate(options.lineRate);
  std::lock_guard plugLock(m_plugMutex);
  Plug();
}

SimulatedLine::~SimulatedLine() {
  HangUp();
  close(m_wakeFd);
}

std::string SimulatedLine::DeviceDir() const { return m_deviceDir; }
Text SimulatedLine::PortName() const { return FromUtf8(m_linkName); }
std::string SimulatedLine::DevicePath() const { return DeviceDir() + m_linkName; }

std::string SimulatedLine::SlavePath() const {
  std::lock_guard lock(m_mutex);
  return m_slavePath;
}

bool SimulatedLine::Plugged() const {
  std::lock_guard lock(m_mutex);
  return m_master >= 0;
}

void SimulatedLine::SetEcho(bool on) {
  std::lock_guard lock(m_mutex);
  m_echo = on;
}

void SimulatedLine::SetEchoDelayMs(uint32_t ms) {
  std::lock_guard lock(m_mutex);
  m_echoDelay = std::chrono::milliseconds(ms);
}

void SimulatedLine::SetEchoMask(uint8_t xorMask) {
  std::lock_guard lock(m_mutex);
  m_echoMask = xorMask;
}

void SimulatedLine::SetLineRate(uint32_t baud) {
  std::lock_guard lock(m_mutex);
  // Start bit, eight data bits, stop bit.
  m_byteTime = baud == 0 ? std::chrono::nanoseconds::zero() : std::chrono::nanoseconds(10'000'000'000LL / baud);
}

void SimulatedLine::SetSilent(bool silent) {
  std::lock_guard lock(m_mutex);
  m_silent = silent;
}

void SimulatedLine::SetFlood(bool on, uint8_t value) {
  std::unique_lock lock(m_mutex);
  m_flood = on;
  m_floodValue = value;
  lock.unlock();
  Wake();
  if (on || OnLineThread()) return;
  // A chunk the line's thread decided on before the flood was stopped lands
  // before this returns, so a purge after it leaves a quiet line.
  lock.lock();
  m_receivedChanged.wait_for(lock, 10s, [this] { return !m_floodWriting; });
}

void SimulatedLine::SetByteHandler(ByteHandler handler) {
  std::lock_guard lock(m_handlerMutex);
  m_handler = std::move(handler);
}

void SimulatedLine::Send(const Bytes& bytes, uint32_t delayMs) {
  {
    std::lock_guard lock(m_mutex);
    if (m_master < 0) return;
    const auto from = Clock::now() + std::chrono::milliseconds(delayMs);
    for (const uint8_t byte : bytes) m_events.emplace(Occupy(from), Event{EventKind::ToProgram, byte});
  }
  Wake();
}

void SimulatedLine::SendGarbage(size_t count, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(random());
  Send(bytes);
}

void SimulatedLine::HangUp() {
  if (OnLineThread()) {
    std::lock_guard lock(m_mutex);
    m_hangUpRequested = true;
    return;
  }
  std::lock_guard plugLock(m_plugMutex);
  StopAndUnplug();
}

void SimulatedLine::StopAndUnplug() {
  {
    std::lock_guard lock(m_mutex);
    m_stopRequested = true;
  }
  Wake();
  if (m_thread.joinable()) m_thread.join();
  m_lineThreadId = std::thread::id{};
  Unplug();
}

void SimulatedLine::HangUpAfterPending(uint32_t delayMs) {
  {
    std::lock_guard lock(m_mutex);
    if (m_master < 0) return;
    auto at = Clock::now() + std::chrono::milliseconds(delayMs);
    if (!m_events.empty()) at = std::max(at, m_events.rbegin()->first);
    m_events.emplace(at, Event{EventKind::HangUp, 0});
  }
  Wake();
}

void SimulatedLine::HangUpAfterBytes(size_t count) {
  if (count == 0) return HangUp();
  std::lock_guard lock(m_mutex);
  m_hangUpCountdown = count;
}

void SimulatedLine::Replug() {
  std::lock_guard plugLock(m_plugMutex);
  StopAndUnplug();
  Plug();
}

SimulatedLine::Bytes SimulatedLine::Received() const {
  std::lock_guard lock(m_mutex);
  return m_received;
}

size_t SimulatedLine::ReceivedCount() const {
  std::lock_guard lock(m_mutex);
  return m_received.size();
}

void SimulatedLine::ClearReceived() {
  std::lock_guard lock(m_mutex);
  m_received.clear();
}

bool SimulatedLine::WaitForReceived(size_t count, uint32_t timeoutMs) const {
  std::unique_lock lock(m_mutex);
  return m_receivedChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                    [&] { return m_received.size() >= count; });
}

SimulatedLine::Bytes SimulatedLine::SentToProgram() const {
  std::lock_guard lock(m_mutex);
  return m_sent;
}

bool SimulatedLine::WaitForInput(int fd, size_t count, uint32_t timeoutMs) {
  const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    int waiting = 0;
    if (ioctl(fd, FIONREAD, &waiting) == 0 && static_cast<size_t>(waiting) >= count) return true;
    if (Clock::now() >= until) return false;
    std::this_thread::sleep_for(1ms);
  }
}

// A fresh pseudo-terminal pair; the slave is left closed for the program.
void SimulatedLine::Plug() {
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (master < 0) Fail("posix_openpt");
  char name[128] = {};
  if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
    close(master);
    Fail("pty setup");
  }
  termios raw{};
  tcgetattr(master, &raw);
  cfmakeraw(&raw);
  tcsetattr(master, TCSANOW, &raw);

  const int slave = open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave < 0) {
    close(master);
    Fail("open slave");
  }
  MakeCooked(slave);
  close(slave);

  std::error_code ec;
  std::filesystem::remove(DevicePath(), ec);
  std::filesystem::create_symlink(name, DevicePath(), ec);
  if (ec) {
    close(master);
    Fail("symlink");
  }

  std::lock_guard lock(m_mutex);
  m_master = master;
  m_slavePath = name;
  m_stopRequested = false;
  m_hangUpRequested = false;
  m_hangUpCountdown = 0;
  m_lineFree = {};
  m_events.clear();
  m_thread = std::thread([this] {
    m_lineThreadId = std::this_thread::get_id();
    Run();
  });
}

void SimulatedLine::Unplug() {
  std::lock_guard lock(m_mutex);
  if (m_master >= 0) close(m_master);
  m_master = -1;
  // The link goes with the adapter, as a device node does; it must not
  // point at a pseudo-terminal number that someone else may be given next.
  std::error_code ec;
  std::filesystem::remove(DevicePath(), ec);
  m_slavePath.clear();
  m_events.clear();
}

// The line's thread: delivers what is due, then waits for the program's
// bytes, a wake-up from another thread or the next due event.
void SimulatedLine::Run() {
  RunLoop();
  // However the thread ends, nobody waits for a flood chunk any more.
  std::lock_guard lock(m_mutex);
  m_floodWriting = false;
  m_receivedChanged.notify_all();
}

void SimulatedLine::RunLoop() {
  bool noOneConnected = false;
  auto lastFlood = Clock::now();
  for (;;) {
    std::vector<Event> due;
    auto nextDue = Clock::time_point::max();
    bool flood = false;
    uint8_t floodValue = 0;
    auto byteTime = std::chrono::nanoseconds::zero();
    {
      std::lock_guard lock(m_mutex);
      if (m_stopRequested) return;
      const auto now = Clock::now();
      while (!m_events.empty() && m_events.begin()->first <= now) {
        due.push_back(m_events.begin()->second);
        m_events.erase(m_events.begin());
      }
      if (!m_events.empty()) nextDue = m_events.begin()->first;
      flood = m_flood && !m_silent;
      if (m_floodWriting && !flood) m_receivedChanged.notify_all();
      m_floodWriting = flood;
      floodValue = m_floodValue;
      byteTime = m_byteTime;
    }

    if (!due.empty()) {
      if (!Deliver(due)) return Unplug();
      continue;  // the far end may have queued more for now
    }
    const auto now = Clock::now();
    if (flood) {
      Flood(floodValue, byteTime, now - lastFlood, &lastFlood);
      std::lock_guard lock(m_mutex);
      m_floodWriting = false;
      m_receivedChanged.notify_all();
    } else {
      lastFlood = now;
    }

    auto wait = nextDue == Clock::time_point::max() ? std::chrono::nanoseconds(1s) : nextDue - now;
    if (noOneConnected) wait = std::min<std::chrono::nanoseconds>(wait, kNoOneConnectedRetry);
    if (flood) wait = std::min<std::chrono::nanoseconds>(wait, kFloodPeriod);
    const timespec timeout = ToTimespec(wait);
    pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_master, POLLIN, 0}};
    const nfds_t count = noOneConnected ? 1 : 2;
    const int ready = ppoll(fds, count, &timeout, nullptr);
    if (ready < 0) continue;  // EINTR
    if (fds[0].revents & POLLIN) {
      uint64_t drained = 0;
      [[maybe_unused]] ssize_t n = read(m_wakeFd, &drained, sizeof drained);
    }
    if (noOneConnected) {
      noOneConnected = false;  // look at the master again next time
      continue;
    }
    if (fds[1].revents & POLLIN) {
      if (!ReadFromMaster(&noOneConnected)) return Unplug();
    } else if (fds[1].revents & (POLLHUP | POLLERR)) {
      noOneConnected = true;
    }
  }
}

// Delivers due events in order: bytes towards the program go out together
// until the far end or a hang-up comes next. False: hang up now.
bool SimulatedLine::Deliver(const std::vector<Event>& due) {
  Bytes out;
  for (const Event& event : due) {
    if (event.kind == EventKind::ToProgram) {
      out.push_back(event.byte);
      continue;
    }
    WriteToMaster(out);
    out.clear();
    if (event.kind == EventKind::HangUp) return false;
    {
      std::lock_guard handlerLock(m_handlerMutex);
      if (m_handler) m_handler(event.byte);
    }
    if (TakeHangUpRequest()) return false;
  }
  WriteToMaster(out);
  return true;
}

// Noise on the line: a chunk at a time unpaced, or as many bytes as the line
// rate allows for the time since the last chunk. What does not fit is lost.
void SimulatedLine::Flood(uint8_t value, std::chrono::nanoseconds byteTime, std::chrono::nanoseconds since,
                          Clock::time_point* lastFlood) {
  size_t count = kFloodChunkUnpaced;
  if (byteTime > std::chrono::nanoseconds::zero()) count = std::min<size_t>(4096, static_cast<size_t>(since / byteTime));
  if (count == 0) return;
  const Bytes chunk(count, value);
  Record(chunk);
  const ssize_t n = write(m_master, chunk.data(), chunk.size());
  Unrecord(chunk.size() - static_cast<size_t>(std::max<ssize_t>(n, 0)));
  *lastFlood = Clock::now();
}

// Returns false when the line is to hang up now.
bool SimulatedLine::ReadFromMaster(bool* noOneConnected) {
  uint8_t buffer[4096];
  const ssize_t n = read(m_master, buffer, sizeof buffer);
  if (n > 0) {
    TakeFromProgram(buffer, static_cast<size_t>(n));
    return !TakeHangUpRequest();
  }
  // EIO (or end of file): the program has closed the slave, or never opened it.
  if (n == 0 || (errno != EAGAIN && errno != EINTR)) *noOneConnected = true;
  return true;
}

void SimulatedLine::TakeFromProgram(const uint8_t* data, size_t count) {
  {
    std::lock_guard lock(m_mutex);
    const auto now = Clock::now();
    const auto byteTime = m_echoOnTheWire && m_byteTime == std::chrono::nanoseconds::zero()
                              ? PortByteTime(m_master)
                              : m_byteTime;
    for (size_t i = 0; i < count; ++i) {
      const uint8_t byte = data[i];
      m_received.push_back(byte);
      if (m_hangUpCountdown > 0 && --m_hangUpCountdown == 0) {
        m_hangUpRequested = true;
        break;
      }
      // The echo comes at once (unless it is to come from the wire): a real
      // adapter's write returns only when the bytes have left, and by then
      // their echo is back, so the program's echo wait never includes the
      // time on the wire. The far end hears each
      // byte when it has crossed, and its answer follows the last one.
      const auto crossed = Occupy(now, byteTime);
      if (m_echo) {
        m_events.emplace((m_echoOnTheWire ? crossed : now) + m_echoDelay,
                         Event{EventKind::ToProgram, static_cast<uint8_t>(byte ^ m_echoMask)});
      }
      m_events.emplace(crossed, Event{EventKind::ToFarEnd, byte});
    }
  }
  m_receivedChanged.notify_all();
}

SimulatedLine::Clock::time_point SimulatedLine::Occupy(Clock::time_point from) {
  return Occupy(from, m_byteTime);
}

SimulatedLine::Clock::time_point SimulatedLine::Occupy(Clock::time_point from,
                                                       std::chrono::nanoseconds byteTime) {
  if (byteTime == std::chrono::nanoseconds::zero()) return from;
  m_lineFree = std::max(from, m_lineFree) + byteTime;
  return m_lineFree;
}

void SimulatedLine::WriteToMaster(const Bytes& bytes) {
  if (bytes.empty()) return;
  {
    std::lock_guard lock(m_mutex);
    if (m_silent) return;
  }
  Record(bytes);
  const auto giveUp = Clock::now() + kWriteGiveUp;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(m_master, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN && Clock::now() < giveUp) {
      pollfd pfd{m_master, POLLOUT, 0};
      poll(&pfd, 1, 10);
      continue;
    }
    break;
  }
  Unrecord(bytes.size() - done);
}

// Bytes are recorded before they are written, so that whatever the program
// has read is already in SentToProgram(); what did not get through is taken
// off again. Only the line's thread appends, so the tail is its own.
void SimulatedLine::Record(const Bytes& bytes) {
  std::lock_guard lock(m_mutex);
  m_sent.insert(m_sent.end(), bytes.begin(), bytes.end());
}

void SimulatedLine::Unrecord(size_t count) {
  if (count == 0) return;
  std::lock_guard lock(m_mutex);
  m_sent.resize(m_sent.size() - count);
}

bool SimulatedLine::TakeHangUpRequest() {
  std::lock_guard lock(m_mutex);
  const bool requested = m_hangUpRequested;
  m_hangUpRequested = false;
  return requested;
}

void SimulatedLine::Wake() const {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t n = write(m_wakeFd, &one, sizeof one);
}

bool SimulatedLine::OnLineThread() const { return m_lineThreadId.load() == std::this_thread::get_id(); }

}  // namespace quorvel::sim
