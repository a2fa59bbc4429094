#include "app/QuorvelApp.h"

#include <utility>

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
  CQuorvelDlg dlg(windowSystem, m_env);
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return false;
}

}  // namespace quorvel
