#pragma once
// The application object: starts the program by running the main dialog
// modally; the program ends when the dialog closes.

namespace quorvel {

class CDialogEx;

class CQuorvelApp {
 public:
  CQuorvelApp();

  // Runs the main dialog to its end. Always false: there is no message
  // loop of the application's own after the dialog.
  bool InitInstance();

  // The main window while it runs, else null.
  CDialogEx* m_pMainWnd = nullptr;
};

}  // namespace quorvel
