#pragma once
// The application object: starts the program by running the main dialog
// modally; the program ends when the dialog closes.

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

  // The main window while it runs, else null.
  CDialogEx* m_pMainWnd = nullptr;

 private:
  Environment m_env;
};

}  // namespace quorvel
