#pragma once
// Requests to end the program that come from outside its window: on POSIX
// the signals SIGHUP (the terminal that started the program was closed),
// SIGTERM and SIGINT. The signal handler only notes the request; it reaches
// the program on the user-interface thread, through its event loop, where
// it is treated like a close request.

#include <functional>
#include <memory>

namespace quorvel {

class TerminationSignals {
 public:
  // Catches the signals from now on, except those ignored when the program
  // was started (nohup). `onRequest` runs on the UI thread from its event
  // loop (a nested one, such as a job's message pump, included) after a
  // signal has been caught.
  explicit TerminationSignals(std::function<void()> onRequest);
  // Gives the signals back their earlier actions.
  ~TerminationSignals();
  TerminationSignals(const TerminationSignals&) = delete;
  TerminationSignals& operator=(const TerminationSignals&) = delete;

  // The last signal caught, 0 if none.
  int Caught() const;

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace quorvel
