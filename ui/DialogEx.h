#pragma once
// Base of our dialogs: the message entry points a window implementation
// calls, and the defaults that end the modal run on OK and Cancel.

#include <cstdint>

#include "ui/Window.h"

namespace quorvel {

class CDialogEx {
 public:
  CDialogEx(int templateId, WindowSystem& windowSystem, CDialogEx* parent = nullptr);
  virtual ~CDialogEx();
  CDialogEx(const CDialogEx&) = delete;
  CDialogEx& operator=(const CDialogEx&) = delete;

  // Runs the dialog modally; returns the result that ended it.
  int DoModal();

  // --- the message map; called by the window on the UI thread
  virtual bool OnInitDialog() { return true; }
  virtual void OnSysCommand(unsigned nID, long lParam);
  virtual void OnPaint() {}
  virtual IconHandle OnQueryDragIcon() { return 0; }
  virtual void OnTimer(uintptr_t nIDEvent) { (void)nIDEvent; }
  // A button click or the commands IDOK / IDCANCEL.
  virtual void OnCommand(int id);
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }

  // Window binding, managed by the WindowSystem while the dialog runs.
  void Attach(Window* window) { m_wnd = window; }
  Window* GetWindow() const { return m_wnd; }
  int TemplateId() const { return m_templateId; }
  WindowSystem& GetWindowSystem() const { return m_windowSystem; }

 protected:
  void EndDialog(int result);

  Window* m_wnd = nullptr;

 private:
  int m_templateId;
  WindowSystem& m_windowSystem;
  CDialogEx* m_parent;
};

}  // namespace quorvel
