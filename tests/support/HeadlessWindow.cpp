#include "support/HeadlessWindow.h"

namespace quorvel::test {

HeadlessWindow::HeadlessWindow(HeadlessWindowSystem& system, CDialogEx& d,
                               const DialogTemplate& tpl)
    : dlg(d), m_system(system), m_tpl(tpl) {
  clientRect = Rect{0, 0, tpl.w * HeadlessWindowSystem::kBaseX / 4,
                    tpl.h * HeadlessWindowSystem::kBaseY / 8};
  for (const auto& c : tpl.controls) {
    if (c.id != kNoId) texts[c.id] = c.text;
  }
}

void HeadlessWindow::Click(int id) {
  if (!IsEnabled(id)) return;
  for (const auto& c : m_tpl.controls) {
    if (c.id == id && c.kind == ControlKind::AutoRadioButton) checkedRadio = id;
  }
  dlg.OnCommand(id);
}

bool HeadlessWindow::Tick(unsigned id) {
  if (timers.count(id) == 0) return false;
  dlg.OnTimer(id);
  return true;
}

void HeadlessWindow::Paint(bool force) {
  if (!m_invalid && !force) return;
  m_invalid = false;
  paintOps.clear();
  ++paintCount;
  m_inPaint = true;
  dlg.OnPaint();
  m_inPaint = false;
}

void HeadlessWindow::SysCommand(unsigned nID, long lParam) { dlg.OnSysCommand(nID, lParam); }

bool HeadlessWindow::IsEnabled(int id) const {
  const auto it = enabled.find(id);
  return it == enabled.end() || it->second;
}

Text HeadlessWindow::TextOf(int id) const {
  const auto it = texts.find(id);
  return it == texts.end() ? Text() : it->second;
}

Rect HeadlessWindow::ControlRect(int id) const {
  for (const auto& c : m_tpl.controls) {
    if (c.id != id) continue;
    const int bx = HeadlessWindowSystem::kBaseX, by = HeadlessWindowSystem::kBaseY;
    return Rect{c.x * bx / 4, c.y * by / 8, (c.x + c.w) * bx / 4, (c.y + c.h) * by / 8};
  }
  return Rect{};
}

void HeadlessWindow::SetDlgItemText(int id, const Text& text) {
  texts[id] = text;
  textLog.emplace_back(id, text);
}

void HeadlessWindow::AppendSystemMenuItem(unsigned commandId, const Text& text) {
  systemMenu.emplace_back(commandId, text);
}

int HeadlessWindow::MessageBox(const Text& text, MbIcon icon) {
  messageBoxes.push_back({text, icon, !sessionEndHeldFor.empty()});
  if (m_system.onMessageBox) m_system.onMessageBox(messageBoxes.back());
  return IDOK;
}

void HeadlessWindow::SetTimer(unsigned id, uint32_t periodMs) {
  timers[id] = periodMs;
  timerLog.push_back({true, id, periodMs});
}

void HeadlessWindow::KillTimer(unsigned id) {
  timers.erase(id);
  timerLog.push_back({false, id, 0});
  if (m_system.onKillTimer) m_system.onKillTimer();
}

void HeadlessWindow::InvalidateRect(const Rect& rect, bool) {
  invalidations.push_back(rect);
  m_invalid = true;
}

void HeadlessWindow::UpdateWindow() {
  ++updateWindowCount;
  if (!m_inPaint) Paint();
}

bool HeadlessWindow::PumpWaitingMessage() {
  ++pumpCount;
  if (m_system.onPump) m_system.onPump();
  if (posted.empty()) return false;
  auto action = std::move(posted.front());
  posted.pop_front();
  action();
  return true;
}

void HeadlessWindow::KeepResponsive() {
  ++keepResponsiveCount;
  if (m_system.onKeepResponsive) m_system.onKeepResponsive();
  Paint();
}

Text HeadlessWindow::ChooseFile(const Text& filter) {
  fileFilters.push_back(filter);
  if (m_system.onChooseFile) m_system.onChooseFile();
  if (m_system.filesToPick.empty()) return Text();
  Text path = m_system.filesToPick.front();
  m_system.filesToPick.pop_front();
  return path;
}

void HeadlessWindow::DefaultSysCommand(unsigned nID, long) {
  defaultSysCommands.push_back(nID);
  if ((nID & 0xFFF0u) == SC_CLOSE) dlg.OnCommand(IDCANCEL);
}

void HeadlessWindow::IconEraseBackground() { paintOps.push_back({PaintOp::IconErase, {}}); }

void HeadlessWindow::DrawIcon(int x, int y, IconHandle) {
  PaintOp op{PaintOp::Icon, {}};
  op.x = x;
  op.y = y;
  paintOps.push_back(op);
}

void HeadlessWindow::Rectangle(const Rect& rect, ColorRef brush) {
  PaintOp op{PaintOp::Rectangle, rect};
  op.colour = brush;
  paintOps.push_back(op);
}

void HeadlessWindow::DrawEdge(const Rect& rect, unsigned edge, unsigned flags) {
  PaintOp op{PaintOp::Edge, rect};
  op.edge = edge;
  op.flags = flags;
  paintOps.push_back(op);
}

HeadlessWindow& HeadlessWindowSystem::Open(CDialogEx& dlg) {
  const DialogTemplate* tpl = FindDialogTemplate(dlg.TemplateId());
  m_windows.push_back(std::make_unique<HeadlessWindow>(*this, dlg, *tpl));
  HeadlessWindow& w = *m_windows.back();
  dlg.Attach(&w);
  dlg.OnInitDialog();
  return w;
}

int HeadlessWindowSystem::RunModal(CDialogEx& dlg, const DialogTemplate& tpl, CDialogEx*) {
  modalRuns.push_back(tpl.id);
  HeadlessWindow w(*this, dlg, tpl);
  dlg.Attach(&w);
  dlg.OnInitDialog();
  if (onModal) onModal(dlg, w);
  if (!w.endResult) w.EndDialog(IDOK);
  dlg.Attach(nullptr);
  return *w.endResult;
}

Text HeadlessWindowSystem::LoadString(int resourceId) {
  return resourceId == IDS_ABOUTBOX ? aboutItemText : Text();
}

}  // namespace quorvel::test
