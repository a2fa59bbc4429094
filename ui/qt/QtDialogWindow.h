#pragma once
// One of our dialogs as a QDialog: built from its template with fixed
// control positions, forwarding clicks, keys, timers, the close box and the
// About item to the dialog object, and giving its paint handler a painter.

#include <QDialog>

#include <map>
#include <vector>

#include "ui/DialogEx.h"
#include "ui/DialogTemplates.h"
#include "ui/Window.h"
#include "ui/qt/DialogLayout.h"

class QPainter;
class QTimer;

namespace quorvel::qt {

class QtWindowSystem;

class QtDialogWindow : public QDialog, public Window {
  Q_OBJECT

 public:
  // `owner` is the window this one is modal over, or null for the main
  // window (which then gets its own task-bar entry).
  QtDialogWindow(QtWindowSystem& windowSystem, CDialogEx& dlg, const DialogTemplate& tpl,
                 QWidget* owner);
  ~QtDialogWindow() override;

  // Shows the window and runs it until EndDialog; returns the end result.
  // `focusFirstTabStop` is what OnInitDialog returned.
  int Run(bool focusFirstTabStop);

  // The control with identifier `id`, or null.
  QWidget* Control(int id) const;
  BaseUnits DialogBaseUnits() const { return m_units; }
  bool HasEnded() const { return m_ended; }

  // --- Window
  void SetWindowText(const Text& caption) override;
  void SetDlgItemText(int id, const Text& text) override;
  void EnableDlgItem(int id, bool enable) override;
  Rect GetDlgItemClientRect(int id) override;
  void AppendSystemMenuItem(unsigned commandId, const Text& text) override;
  // While disabled, no control opens a context menu of its own either: a
  // menu's loop would hold up whatever the dialog is doing.
  void EnableSystemMenu(bool enable) override;
  void SetIcon(IconHandle icon, bool big) override;
  int MessageBox(const Text& text, MbIcon icon) override;
  void SetTimer(unsigned id, uint32_t periodMs) override;
  void KillTimer(unsigned id) override;
  void InvalidateRect(const Rect& rect, bool erase) override;
  void UpdateWindow() override;
  bool PumpWaitingMessage() override;
  void KeepResponsive() override;
  Text ChooseFile(const Text& filter) override;
  void EndDialog(int result) override;
  void DefaultSysCommand(unsigned nID, long lParam) override;
  bool IsIconic() override;
  int IconWidth() override;
  int IconHeight() override;
  Rect GetClientRect() override;
  void IconEraseBackground() override;
  void DrawIcon(int x, int y, IconHandle icon) override;
  void Rectangle(const Rect& rect, ColorRef brush) override;
  void DrawEdge(const Rect& rect, unsigned edge, unsigned flags) override;

  // The title a message box without a caption of its own shows: the
  // caption of the program's main window.
  QString ApplicationTitle() const;

 public slots:
  // The dialog decides what OK and Cancel do.
  void accept() override;
  void reject() override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  struct ControlEntry {
    int id;
    ControlKind kind;
    uint32_t styles;
    QWidget* widget;
  };
  struct MenuItem {
    unsigned commandId;  // 0: separator
    QString text;
  };

  void BuildControls(const DialogTemplate& tpl);
  // Gives control `id` its name for assistive technology, if it has one.
  void NameForAccessibility(int id);
  const ControlEntry* FindControl(int id) const;
  void ShowSystemMenu(const QPoint& globalPos);

  QtWindowSystem& m_windowSystem;
  CDialogEx& m_dlg;
  BaseUnits m_units;
  std::vector<ControlEntry> m_controls;
  std::vector<MenuItem> m_menuItems;
  bool m_systemMenuEnabled = true;
  std::map<unsigned, QTimer*> m_timers;
  // Lamp control -> whether it was last painted on (green).
  std::map<int, bool> m_lampOn;
  // The painter of the paint in progress; null outside paintEvent.
  QPainter* m_painter = nullptr;
  bool m_ended = false;
  int m_result = 0;
};

}  // namespace quorvel::qt
