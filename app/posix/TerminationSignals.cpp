// Termination signals through a self-pipe: the handler writes the signal's
// number into a pipe, and a socket notifier of the event loop reads it and
// passes the request on.

#include "app/TerminationSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <cerrno>
#include <iterator>

namespace quorvel {

namespace {

constexpr int kSignals[] = {SIGHUP, SIGTERM, SIGINT};

// Written by the signal handler; one catcher at a time.
int g_writeEnd = -1;
volatile sig_atomic_t g_caught = 0;

void NoteSignal(int signo) {
  const int saved = errno;
  g_caught = signo;
  const auto byte = static_cast<unsigned char>(signo);
  // A full pipe already holds a request that has not been taken yet.
  if (write(g_writeEnd, &byte, 1) < 0) {
  }
  errno = saved;
}

}  // namespace

struct TerminationSignals::State {
  std::function<void()> onRequest;
  int pipe[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier;
  struct sigaction previous[std::size(kSignals)] = {};
  bool caught[std::size(kSignals)] = {};
};

TerminationSignals::TerminationSignals(std::function<void()> onRequest)
    : m_state(std::make_unique<State>()) {
  State& s = *m_state;
  s.onRequest = std::move(onRequest);
  // Without the pipe the signals keep their default action: the program
  // ends as it did before.
  if (pipe2(s.pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
  g_writeEnd = s.pipe[1];
  g_caught = 0;

  s.notifier = std::make_unique<QSocketNotifier>(s.pipe[0], QSocketNotifier::Read);
  QObject::connect(s.notifier.get(), &QSocketNotifier::activated, [state = &s] {
    unsigned char taken[16];
    bool any = false;
    while (read(state->pipe[0], taken, sizeof taken) > 0) any = true;
    if (any && state->onRequest) state->onRequest();
  });

  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (sigaction(kSignals[i], nullptr, &s.previous[i]) != 0) continue;
    if (s.previous[i].sa_handler == SIG_IGN) continue;  // started to ignore it
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    s.caught[i] = sigaction(kSignals[i], &action, nullptr) == 0;
  }
}

TerminationSignals::~TerminationSignals() {
  State& s = *m_state;
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (s.caught[i]) sigaction(kSignals[i], &s.previous[i], nullptr);
  }
  s.notifier.reset();
  g_writeEnd = -1;
  for (int& fd : s.pipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

int TerminationSignals::Caught() const { return g_caught; }

}  // namespace quorvel
