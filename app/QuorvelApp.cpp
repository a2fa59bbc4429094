#include "app/QuorvelApp.h"

#include <QCoreApplication>

#include <utility>

#include "app/TerminationSignals.h"
#include "ui/Environment.h"
#include "ui/QuorvelDlg.h"
#include "ui/qt/QtWindowSystem.h"

namespace quorvel {

// No restart-manager registration: the desktop has no such service.
CQuorvelApp::CQuorvelApp(Environment environment) : m_env(std::move(environment)) {}

bool CQuorvelApp::InitInstance() {
  // No common-controls initialisation: Qt brings its own widgets.
  // No ActiveX control container: the dialog holds no such controls.
  // No shell manager: nothing here uses shell folders or shell lists.
  // No profile key: the program stores no settings.
  // No help command: the program has no help.
  qt::QtWindowSystem windowSystem;
  CQuorvelDlg* running = nullptr;
  // A termination signal is a close request: during an update job the
  // dialog holds it until the job has ended, so no device is left halfway
  // through a record, and then ends without a box, the job's end told on
  // standard error. Otherwise the program ends at once: every window open
  // over the dialog (a message box, the file dialog, the About box) is left,
  // and any that would open later returns at once. Either way the port is
  // closed with the dialog.
  TerminationSignals termination([&running] {
    if (running == nullptr) return;
    if (!running->JobRunning()) QCoreApplication::exit(0);
    // Nobody may be there to answer the box of the job's end.
    running->CloseUnattended();
  });
  {
    CQuorvelDlg dlg(windowSystem, m_env);
    running = &dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    running = nullptr;
  }
  m_endingSignal = termination.Caught();
  return false;
}

int CQuorvelApp::ExitCode() const { return m_endingSignal != 0 ? 128 + m_endingSignal : 0; }

}  // namespace quorvel
