#pragma once
// The application object: starts the program by running the main dialog
// modally; the program ends when the dialog closes, or after a termination
// signal (held until an update job has ended).

#include "ui/Environment.h"

namespace quorvel {

class CDialogEx;

class CQuorvelApp {
 public:
  // `environment`: where the main dialog finds the machine's files, devices
  // and ports (the demo adds its simulated adapter there).
  explicit CQuorvelApp(Environment environment = Environment::System());

  // Runs the main dialog to its end. Always false: there is no message
  // loop of the application's own after the dialog.
  bool InitInstance();

  // The process's exit code once InitInstance has returned: 0, or 128 plus
  // the number of the termination signal that ended the program.
  int ExitCode() const;

  // The main window while it runs, else null.
  CDialogEx* m_pMainWnd = nullptr;

 private:
  Environment m_env;
  int m_endingSignal = 0;
};

}  // namespace quorvel
