#include "app/QuorvelApp.h"

#include <utility>

#include "ui/Environment.h"
#include "ui/QuorvelDlg.h"
#include "ui/win32/Win32WindowSystem.h"

namespace quorvel {

CQuorvelApp::CQuorvelApp(Environment environment) : m_env(std::move(environment)) {}

bool CQuorvelApp::InitInstance() {
  // The window system registers the common control classes.
  // No ActiveX control container, shell manager, profile key or help: the
  // program uses none of them.
  win32::Win32WindowSystem windowSystem;
  CQuorvelDlg dlg(windowSystem, m_env);
  m_pMainWnd = &dlg;
  dlg.DoModal();
  m_pMainWnd = nullptr;
  return false;
}

}  // namespace quorvel
