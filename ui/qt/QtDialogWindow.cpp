#include "ui/qt/QtDialogWindow.h"

#include <QAbstractEventDispatcher>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QGuiApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QThread>
#include <QTimer>

#include <algorithm>

#include "ui/qt/QtWindowSystem.h"

namespace quorvel::qt {

namespace {

// The size of a large icon (SM_CXICON, SM_CYICON).
constexpr int kIconSize = 32;

// Timer periods as the window system clamps them.
constexpr uint32_t kMinTimerMs = 10;
constexpr uint32_t kMaxTimerMs = 0x7FFFFFFF;

// System commands besides SC_CLOSE.
constexpr unsigned kScMinimize = 0xF020;

// Edge kinds of DrawEdge.
constexpr unsigned kBdrRaisedOuter = 0x1;
constexpr unsigned kBdrSunkenOuter = 0x2;
constexpr unsigned kBdrRaisedInner = 0x4;
constexpr unsigned kBdrSunkenInner = 0x8;
constexpr unsigned kBfLeft = 0x1;
constexpr unsigned kBfTop = 0x2;
constexpr unsigned kBfRight = 0x4;
constexpr unsigned kBfBottom = 0x8;

// The classic three-dimensional colours.
const QColor kHighlight(0xFF, 0xFF, 0xFF);
const QColor kLight(0xE3, 0xE3, 0xE3);
const QColor kShadow(0xA0, 0xA0, 0xA0);
const QColor kDarkShadow(0x69, 0x69, 0x69);

QColor ToQColor(ColorRef colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

QRect ToQRect(const Rect& rect) {
  return QRect(rect.left, rect.top, rect.Width(), rect.Height());
}

// Names for assistive technology of the controls that show no text of
// their own: each lamp is named by the label beside it and what its colour
// says, the status field by its purpose.
struct AccessibleNaming {
  int id;
  int labelId;       // the lamp's label, or kNoId
  const char* name;  // a fixed name, or null
};
constexpr AccessibleNaming kAccessibleNames[] = {
    {IDC_USB_LAMP, IDC_USB_LABEL, nullptr},
    {IDC_DEVICE_LAMP, IDC_DEVICE_LABEL, nullptr},
    {IDC_STATUS_EDIT, kNoId, "Update status"},
};
// A lamp painted in this colour is on: connected.
constexpr ColorRef kLampOn = RGB(0, 0xFF, 0);

bool IsPushButton(ControlKind kind) {
  return kind == ControlKind::PushButton || kind == ControlKind::DefPushButton;
}

// One ring of a three-dimensional edge: top and left in `topLeft`, then
// bottom and right in `bottomRight`, each line one pixel wide and as long
// as the side.
void DrawRing(QPainter& painter, const QRect& r, unsigned sides, const QColor& topLeft,
              const QColor& bottomRight) {
  if (r.width() <= 0 || r.height() <= 0) return;
  if (sides & kBfTop) painter.fillRect(QRect(r.left(), r.top(), r.width(), 1), topLeft);
  if (sides & kBfLeft) painter.fillRect(QRect(r.left(), r.top(), 1, r.height()), topLeft);
  if (sides & kBfBottom) painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
  if (sides & kBfRight) painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

// A group box as dialogs draw it in the classic style, whatever the
// widget style: an etched frame and the title on its top line, and nothing
// else, so that what the dialog paints inside stays untouched.
class ClassicGroupBox : public QGroupBox {
 public:
  using QGroupBox::QGroupBox;

 protected:
  void paintEvent(QPaintEvent* event) override {
    (void)event;
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const QRect frame = rect().adjusted(0, std::max(0, metrics.height() / 2 - 1), 0, 0);
    DrawRing(painter, frame, kBfLeft | kBfTop | kBfRight | kBfBottom, kShadow, kHighlight);
    DrawRing(painter, frame.adjusted(1, 1, -1, -1), kBfLeft | kBfTop | kBfRight | kBfBottom,
             kHighlight, kShadow);
    const QString text = WithoutAccessMarks(title());
    if (text.isEmpty()) return;
    // Seven pixels in, moved left a little for a title that would not fit.
    const int advance = metrics.horizontalAdvance(text);
    const int textLeft = std::clamp(width() - 3 - advance, 3, 7);
    const int textWidth = std::min(advance, width() - 3 - textLeft);
    if (textWidth <= 0) return;
    painter.fillRect(QRect(textLeft - 1, 0, textWidth + 2, metrics.height() + 1),
                     palette().window());
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   QPalette::WindowText));
    painter.drawText(QRect(textLeft, 0, textWidth, metrics.height()),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
  }
};

}  // namespace

QtDialogWindow::QtDialogWindow(QtWindowSystem& windowSystem, CDialogEx& dlg,
                               const DialogTemplate& tpl, QWidget* owner)
    : QDialog(owner), m_windowSystem(windowSystem), m_dlg(dlg) {
  // The main window is a window of its own (with a task-bar entry); the
  // others are dialogs over their owner. Neither has a maximise box.
  Qt::WindowFlags flags = (tpl.appWindow || owner == nullptr) ? Qt::Window : Qt::Dialog;
  flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
           Qt::WindowCloseButtonHint;
  if (tpl.sizingFrame) flags |= Qt::WindowMinimizeButtonHint;
  setWindowFlags(flags);
  setSizeGripEnabled(false);
  setWindowTitle(ToQString(tpl.caption));

  setFont(DialogFont(tpl));
  m_units = BaseUnitsOf(font());
  BuildControls(tpl);

  // No layout: the controls keep their places; a resizable window shows
  // more or less of them.
  const QSize client = DialogClientSize(tpl, m_units);
  if (tpl.sizingFrame) resize(client);
  else setFixedSize(client);
}

QtDialogWindow::~QtDialogWindow() {
  for (auto& [id, timer] : m_timers) timer->stop();
}

void QtDialogWindow::BuildControls(const DialogTemplate& tpl) {
  QButtonGroup* radioGroup = nullptr;
  QWidget* previousTabStop = nullptr;
  for (const ControlTemplate& c : tpl.controls) {
    const QString text = ToQString(c.text);
    const int id = c.id;
    const bool tabStop = (c.styles & kTabStop) != 0;
    QWidget* widget = nullptr;
    QSize realSize;
    switch (c.kind) {
      case ControlKind::GroupBox: {
        widget = new ClassicGroupBox(text, this);
        break;
      }
      case ControlKind::PushButton:
      case ControlKind::DefPushButton: {
        auto* button = new QPushButton(text, this);
        // Only a default button answers Enter from other controls; a
        // focused button answers it itself (keyPressEvent).
        button->setAutoDefault(false);
        button->setDefault(c.kind == ControlKind::DefPushButton);
        connect(button, &QPushButton::clicked, this, [this, id] { m_dlg.OnCommand(id); });
        widget = button;
        break;
      }
      case ControlKind::StaticText: {
        auto* label = new QLabel(this);
        label->setTextFormat(Qt::PlainText);
        label->setText((c.styles & kNoPrefix) ? text : WithoutAccessMarks(text));
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        widget = label;
        break;
      }
      case ControlKind::StaticBitmap:
      case ControlKind::StaticIcon: {
        auto* label = new QLabel(this);
        QPixmap picture = m_windowSystem.Picture(c.resource);
        if (c.kind == ControlKind::StaticIcon && !picture.isNull()) {
          picture = picture.scaled(kIconSize, kIconSize, Qt::IgnoreAspectRatio,
                                   Qt::SmoothTransformation);
        }
        label->setPixmap(picture);
        realSize = picture.size();
        widget = label;
        break;
      }
      case ControlKind::OwnerDrawStatic: {
        // Draws nothing: the dialog's own painting shows through.
        widget = new QWidget(this);
        break;
      }
      case ControlKind::Edit: {
        auto* edit = new QLineEdit(text, this);
        edit->setAlignment((c.styles & kCentered) ? Qt::AlignCenter
                                                  : (Qt::AlignLeft | Qt::AlignVCenter));
        edit->setFrame((c.styles & kBorder) != 0);
        edit->setReadOnly((c.styles & kReadOnly) != 0);
        widget = edit;
        break;
      }
      case ControlKind::AutoRadioButton: {
        auto* radio = new QRadioButton(text, this);
        if (radioGroup == nullptr || (c.styles & kGroup)) {
          radioGroup = new QButtonGroup(this);
          radioGroup->setExclusive(true);
        }
        radioGroup->addButton(radio);
        connect(radio, &QRadioButton::clicked, this, [this, id] { m_dlg.OnCommand(id); });
        widget = radio;
        break;
      }
    }
    if (c.kind != ControlKind::AutoRadioButton) radioGroup = nullptr;

    switch (c.kind) {
      case ControlKind::PushButton:
      case ControlKind::DefPushButton:
      case ControlKind::Edit:
      case ControlKind::AutoRadioButton:
        // Controls that take input are reached with Tab only when they are
        // tab stops; a click focuses them anyway.
        widget->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        break;
      default:
        // Frames, texts and pictures take no input: clicks go through them
        // to what lies beneath.
        widget->setFocusPolicy(Qt::NoFocus);
        widget->setAttribute(Qt::WA_TransparentForMouseEvents);
        break;
    }

    QRect geometry = ControlRect(c, m_units);
    if (realSize.isValid() && !realSize.isEmpty()) geometry.setSize(realSize);
    // Fonts here are not the template's own; a radio button's label is
    // never cut off for that (the labels are short and have room).
    if (c.kind == ControlKind::AutoRadioButton)
      geometry.setWidth(std::max(geometry.width(), widget->sizeHint().width()));
    widget->setGeometry(geometry);
    widget->setObjectName(QStringLiteral("control_%1").arg(id));
    // The first control of the template lies on top of the later ones.
    widget->lower();
    m_controls.push_back(ControlEntry{id, c.kind, c.styles, widget});

    if (tabStop && (widget->focusPolicy() & Qt::TabFocus)) {
      if (previousTabStop != nullptr) setTabOrder(previousTabStop, widget);
      previousTabStop = widget;
    }
  }
  for (const AccessibleNaming& naming : kAccessibleNames) NameForAccessibility(naming.id);
}

// Lamps start off (red), as the dialog opens with no adapter port.
void QtDialogWindow::NameForAccessibility(int id) {
  for (const AccessibleNaming& naming : kAccessibleNames) {
    if (naming.id != id) continue;
    QWidget* widget = Control(id);
    if (widget == nullptr) return;
    if (naming.name != nullptr) {
      widget->setAccessibleName(QString::fromUtf8(naming.name));
      return;
    }
    const auto* label = qobject_cast<const QLabel*>(Control(naming.labelId));
    const QString labelText = label != nullptr ? label->text() : QString();
    const auto on = m_lampOn.find(id);
    const bool connected = on != m_lampOn.end() && on->second;
    widget->setAccessibleName(labelText + (connected ? QStringLiteral(": connected")
                                                     : QStringLiteral(": not connected")));
    return;
  }
}

const QtDialogWindow::ControlEntry* QtDialogWindow::FindControl(int id) const {
  if (id == kNoId) return nullptr;
  for (const ControlEntry& c : m_controls) {
    if (c.id == id) return &c;
  }
  return nullptr;
}

QWidget* QtDialogWindow::Control(int id) const {
  const auto* c = FindControl(id);
  return c != nullptr ? c->widget : nullptr;
}

int QtDialogWindow::Run(bool focusFirstTabStop) {
  if (m_ended) return m_result;  // ended during OnInitDialog
  if (focusFirstTabStop) {
    for (const auto& c : m_controls) {
      if ((c.styles & kTabStop) && c.widget->isEnabled() &&
          (c.widget->focusPolicy() & Qt::TabFocus)) {
        c.widget->setFocus(Qt::TabFocusReason);
        break;
      }
    }
  }
  const int result = exec();
  return m_ended ? m_result : result;
}

// --- texts and controls

void QtDialogWindow::SetWindowText(const Text& caption) { setWindowTitle(ToQString(caption)); }

void QtDialogWindow::SetDlgItemText(int id, const Text& text) {
  const auto* c = FindControl(id);
  if (c == nullptr) return;
  const QString value = ToQString(text);
  if (auto* label = qobject_cast<QLabel*>(c->widget)) {
    if (c->kind == ControlKind::StaticText)
      label->setText((c->styles & kNoPrefix) ? value : WithoutAccessMarks(value));
  } else if (auto* box = qobject_cast<QGroupBox*>(c->widget)) {
    box->setTitle(value);
  } else if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
    button->setText(value);
  } else if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) {
    edit->setText(value);
  }
  // A lamp's name begins with its label's text.
  for (const AccessibleNaming& naming : kAccessibleNames) {
    if (naming.labelId == id) NameForAccessibility(naming.id);
  }
}

void QtDialogWindow::EnableDlgItem(int id, bool enable) {
  if (QWidget* widget = Control(id)) widget->setEnabled(enable);
}

Rect QtDialogWindow::GetDlgItemClientRect(int id) {
  const QWidget* widget = Control(id);
  if (widget == nullptr) return Rect{};
  const QRect g = widget->geometry();
  return Rect{g.x(), g.y(), g.x() + g.width(), g.y() + g.height()};
}

void QtDialogWindow::AppendSystemMenuItem(unsigned commandId, const Text& text) {
  m_menuItems.push_back(MenuItem{0, QString()});
  m_menuItems.push_back(MenuItem{commandId, ToQString(text)});
}

void QtDialogWindow::SetIcon(IconHandle icon, bool big) {
  (void)big;  // one icon serves both sizes
  const QPixmap picture = m_windowSystem.Picture(icon);
  if (!picture.isNull()) setWindowIcon(QIcon(picture));
}

// --- messages and timers

QString QtDialogWindow::ApplicationTitle() const {
  const QWidget* top = this;
  for (const QWidget* w = parentWidget(); w != nullptr; w = w->parentWidget()) {
    if (qobject_cast<const QtDialogWindow*>(w) != nullptr) top = w;
  }
  const QString caption = top->windowTitle().trimmed();
  return caption.isEmpty() ? QGuiApplication::applicationDisplayName() : top->windowTitle();
}

int QtDialogWindow::MessageBox(const Text& text, MbIcon icon) {
  QMessageBox box(icon == MbIcon::Stop ? QMessageBox::Critical : QMessageBox::NoIcon,
                  ApplicationTitle(), ToQString(text), QMessageBox::Ok, this);
  box.setTextFormat(Qt::PlainText);
  box.exec();
  return IDOK;
}

void QtDialogWindow::SetTimer(unsigned id, uint32_t periodMs) {
  QTimer*& timer = m_timers[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    // Like the window system's timers, never early.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] { m_dlg.OnTimer(id); });
  }
  timer->start(static_cast<int>(std::clamp(periodMs, kMinTimerMs, kMaxTimerMs)));
}

void QtDialogWindow::KillTimer(unsigned id) {
  const auto it = m_timers.find(id);
  if (it != m_timers.end()) it->second->stop();
}

void QtDialogWindow::InvalidateRect(const Rect& rect, bool erase) {
  (void)erase;  // Qt always paints the background under an update
  if (rect.Width() > 0 && rect.Height() > 0) update(ToQRect(rect));
}

void QtDialogWindow::UpdateWindow() { repaint(); }

bool QtDialogWindow::PumpWaitingMessage() {
  QAbstractEventDispatcher* dispatcher = QThread::currentThread()->eventDispatcher();
  if (dispatcher == nullptr) return false;
  return dispatcher->processEvents(QEventLoop::AllEvents);
}

void QtDialogWindow::KeepResponsive() {
  // Input stays queued for later; painting, the window manager's ping and
  // its close request are handled now.
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

Text QtDialogWindow::ChooseFile(const Text& filter) {
  const QStringList filters = NameFilters(filter);
  QString selected = filters.value(0);
  const QString path = QFileDialog::getOpenFileName(this, QString(), QString(),
                                                    filters.join(QStringLiteral(";;")), &selected);
  return FromQString(path);
}

void QtDialogWindow::EndDialog(int result) {
  m_ended = true;
  m_result = result;
  done(result);
}

void QtDialogWindow::DefaultSysCommand(unsigned nID, long lParam) {
  (void)lParam;
  switch (nID & 0xFFF0u) {
    case SC_CLOSE: m_dlg.OnCommand(IDCANCEL); break;
    case kScMinimize: showMinimized(); break;
    default: break;
  }
}

void QtDialogWindow::accept() { m_dlg.OnCommand(IDOK); }
void QtDialogWindow::reject() { m_dlg.OnCommand(IDCANCEL); }

// --- events

void QtDialogWindow::paintEvent(QPaintEvent* event) {
  (void)event;
  QPainter painter(this);
  m_painter = &painter;
  m_dlg.OnPaint();
  m_painter = nullptr;
}

void QtDialogWindow::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
  if (key == Qt::Key_Escape && modifiers == Qt::NoModifier) {
    m_dlg.OnCommand(IDCANCEL);
    return;
  }
  if ((key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier) {
    // A focused push button is pressed; elsewhere the default button, or
    // the OK command when there is none.
    QWidget* focus = focusWidget();
    for (const auto& c : m_controls) {
      if (c.widget == focus && IsPushButton(c.kind)) {
        static_cast<QPushButton*>(c.widget)->click();
        return;
      }
    }
    for (const auto& c : m_controls) {
      if (c.kind == ControlKind::DefPushButton) {
        if (c.widget->isEnabled()) static_cast<QPushButton*>(c.widget)->click();
        return;
      }
    }
    m_dlg.OnCommand(IDOK);
    return;
  }
  if (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier) {
    ShowSystemMenu(mapToGlobal(QPoint(0, 0)));
    return;
  }
  // Past QDialog on purpose: its own Escape and Enter handling is replaced above.
  QWidget::keyPressEvent(event);  // NOLINT(bugprone-parent-virtual-call)
}

void QtDialogWindow::closeEvent(QCloseEvent* event) {
  // The close box is the system command "close"; the dialog decides, and
  // may refuse, in which case the window stays open.
  if (!m_ended) m_dlg.OnSysCommand(SC_CLOSE, 0);
  event->setAccepted(m_ended);
}

void QtDialogWindow::contextMenuEvent(QContextMenuEvent* event) {
  if (m_menuItems.empty()) {
    event->ignore();
    return;
  }
  // Taken, but no menu: its loop would hold up whatever the dialog is doing.
  if (!m_systemMenuEnabled) return;
  ShowSystemMenu(event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                             : mapToGlobal(QPoint(0, 0)));
}

void QtDialogWindow::EnableSystemMenu(bool enable) {
  m_systemMenuEnabled = enable;
  // A control without its own menu hands the request to the dialog, which
  // takes it without opening one.
  for (const ControlEntry& c : m_controls) {
    c.widget->setContextMenuPolicy(enable ? Qt::DefaultContextMenu : Qt::NoContextMenu);
  }
}

void QtDialogWindow::ShowSystemMenu(const QPoint& globalPos) {
  if (m_menuItems.empty() || !m_systemMenuEnabled) return;
  QMenu menu(this);
  for (const MenuItem& item : m_menuItems) {
    if (item.commandId == 0) menu.addSeparator();
    else menu.addAction(item.text)->setData(item.commandId);
  }
  const QAction* chosen = menu.exec(globalPos);
  if (chosen != nullptr && !m_ended) m_dlg.OnSysCommand(chosen->data().toUInt(), 0);
}

// --- painting

bool QtDialogWindow::IsIconic() { return isMinimized(); }
int QtDialogWindow::IconWidth() { return kIconSize; }
int QtDialogWindow::IconHeight() { return kIconSize; }

Rect QtDialogWindow::GetClientRect() { return Rect{0, 0, width(), height()}; }

void QtDialogWindow::IconEraseBackground() {
  if (m_painter != nullptr) m_painter->fillRect(rect(), palette().window());
}

void QtDialogWindow::DrawIcon(int x, int y, IconHandle icon) {
  if (m_painter == nullptr) return;
  const QPixmap picture = m_windowSystem.Picture(icon);
  if (!picture.isNull()) {
    m_painter->setRenderHint(QPainter::SmoothPixmapTransform);
    m_painter->drawPixmap(QRect(x, y, kIconSize, kIconSize), picture);
  }
}

void QtDialogWindow::Rectangle(const Rect& rect, ColorRef brush) {
  if (m_painter == nullptr || rect.Width() <= 0 || rect.Height() <= 0) return;
  // Outline and fill cover left..right-1 and top..bottom-1.
  const QRect r = ToQRect(rect);
  m_painter->fillRect(r, Qt::black);
  m_painter->fillRect(r.adjusted(1, 1, -1, -1), ToQColor(brush));
  // Painting a lamp's area tells its state: what a screen reader says of it
  // follows the colour the eye sees.
  for (const ControlEntry& c : m_controls) {
    if (c.kind != ControlKind::OwnerDrawStatic || c.widget->geometry() != r) continue;
    const bool on = brush == kLampOn;
    const auto known = m_lampOn.find(c.id);
    if (known != m_lampOn.end() && known->second == on) continue;
    m_lampOn[c.id] = on;
    NameForAccessibility(c.id);
  }
}

void QtDialogWindow::DrawEdge(const Rect& rect, unsigned edge, unsigned flags) {
  if (m_painter == nullptr) return;
  const QRect outer = ToQRect(rect);
  if (edge & (kBdrRaisedOuter | kBdrSunkenOuter)) {
    if (edge & kBdrSunkenOuter) DrawRing(*m_painter, outer, flags, kShadow, kHighlight);
    else DrawRing(*m_painter, outer, flags, kLight, kDarkShadow);
  }
  const QRect inner = outer.adjusted((flags & kBfLeft) ? 1 : 0, (flags & kBfTop) ? 1 : 0,
                                     (flags & kBfRight) ? -1 : 0, (flags & kBfBottom) ? -1 : 0);
  if (edge & (kBdrRaisedInner | kBdrSunkenInner)) {
    if (edge & kBdrSunkenInner) DrawRing(*m_painter, inner, flags, kDarkShadow, kLight);
    else DrawRing(*m_painter, inner, flags, kHighlight, kShadow);
  }
}

}  // namespace quorvel::qt
