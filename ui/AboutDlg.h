#pragma once
// The About box: program version and build date; OK and Escape close it.

#include "ui/DialogEx.h"
#include "ui/DialogTemplates.h"

namespace quorvel {

class CAboutDlg : public CDialogEx {
 public:
  CAboutDlg(WindowSystem& windowSystem, CDialogEx* parent)
      : CDialogEx(IDD_ABOUTBOX, windowSystem, parent) {}
};

}  // namespace quorvel
