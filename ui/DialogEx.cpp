#include "ui/DialogEx.h"

#include "ui/DialogTemplates.h"

namespace quorvel {

CDialogEx::CDialogEx(int templateId, WindowSystem& windowSystem, CDialogEx* parent)
    : m_templateId(templateId), m_windowSystem(windowSystem), m_parent(parent) {}

CDialogEx::~CDialogEx() = default;

int CDialogEx::DoModal() {
  const DialogTemplate* tpl = FindDialogTemplate(m_templateId);
  if (tpl == nullptr) return -1;
  return m_windowSystem.RunModal(*this, *tpl, m_parent);
}

void CDialogEx::OnSysCommand(unsigned nID, long lParam) {
  if (m_wnd != nullptr) m_wnd->DefaultSysCommand(nID, lParam);
}

void CDialogEx::OnCommand(int id) {
  if (id == IDOK) OnOK();
  else if (id == IDCANCEL) OnCancel();
}

void CDialogEx::EndDialog(int result) {
  if (m_wnd != nullptr) m_wnd->EndDialog(result);
}

}  // namespace quorvel
