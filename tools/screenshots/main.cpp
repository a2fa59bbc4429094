// Pictures of the program's window for the README. Runs the program as the
// demo runs it (its start-up and style, its dialog, the simulated adapter and
// device on a pseudo-terminal at the real baud rates), walks the window
// through the states a user meets, and saves each as a PNG in OUTPUT_DIR:
//
//   01-no-model.png        no model selected: both lamps red
//   02-adapter-found.png   "OLMAR I", the device silent: adapter lamp green only
//   03-ready-olmar.png     the device answers: both lamps green, version shown
//   04-ready-brenix.png    the same for "BRENIX"
//   05-transferring.png    an update under way
//   06-updated.png         "Updated successfully!" and the new version
//   07-crc-error.png       a failed update's message box over the window
//
// Clicks go to the window's own buttons; the file dialog is answered with a
// sample file. A picture is taken only once the window shows what it should
// (texts, and the lamp colours of its own painting); a state that does not
// come ends the run with an error. Pictures are cut from the screen, with the
// frames the window manager draws, once the screen shows what the windows
// have painted.
//
// Usage: quorvel-screenshots OUTPUT_DIR   (on an X server with a window
// manager; tools/take_screenshots.sh runs one on a virtual screen)

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QStyleHints>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <initializer_list>
#include <optional>
#include <utility>

#include "app/Startup.h"
#include "link/Protocol.h"
#include "serial/PortList.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/SimulatedPortPlatform.h"
#include "ui/DialogTemplates.h"
#include "ui/qt/QtDialogWindow.h"

namespace quorvel::shots {
namespace {

using qt::QtDialogWindow;

constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kGreen = 0x00FF00;

// A state the window does not reach within this time fails the run.
constexpr int kStateWaitMs = 15000;
// How long the screen may lag behind what a window has painted, and how
// long a window manager may take to put a frame round the main window.
constexpr int kScreenWaitMs = 3000;
constexpr int kFrameWaitMs = 5000;
// The whole run, should something hang where no wait watches it.
constexpr int kRunLimitMs = 180000;
// The first progress at or above this many percent is the picture of a
// transfer under way.
constexpr int kTransferPicturePercent = 40;

const QString kHintNoAdapter =
    QStringLiteral("Connect your USB adaptor to PC, Red signal change to Green.");
const QString kHintNoDevice =
    QStringLiteral("Connect your Device to USB adaptor, Red signal change to Green.");
const QString kHintReady = QStringLiteral("You can update the software.");
const QString kTransferring = QStringLiteral("Transferring.. ");
const QString kUpdated = QStringLiteral("Updated successfully!");
const QString kCrcError = QStringLiteral("Update Error: Data transfer crc error!");

// What the window must show before its picture is taken.
struct Look {
  QRgb usbLamp;
  QRgb deviceLamp;
  QString hint;
  QString version;
  std::optional<QString> status;  // not looked at when absent
};

const Look kNoModel{kRed, kRed, kHintNoAdapter, QString(), QString()};
const Look kAdapterOnly{kGreen, kRed, kHintNoDevice, QString(), QString()};
const Look kReadyOlmar{kGreen, kGreen, kHintReady, QStringLiteral("P1.05.12"), QString()};
const Look kReadyBrenix{kGreen, kGreen, kHintReady, QStringLiteral("01.2A.07"), QString()};
const Look kUpdatedOlmar{kGreen, kGreen, kHintReady, QStringLiteral("P1.06.00"), kUpdated};

// Processes events until `done` holds or `ms` have passed.
bool WaitFor(const std::function<bool()>& done, int ms = kStateWaitMs) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > ms) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

QString TextOf(const QtDialogWindow& w, int id) {
  const QWidget* control = w.Control(id);
  if (const auto* label = qobject_cast<const QLabel*>(control)) return label->text();
  if (const auto* edit = qobject_cast<const QLineEdit*>(control)) return edit->text();
  return QString();
}

// The colour a lamp has in a picture of the window.
QRgb LampColour(const QImage& picture, const QtDialogWindow& w, int lampId) {
  return picture.pixel(w.Control(lampId)->geometry().center()) & 0xFFFFFF;
}

// A window's place on the screen with the frame the window manager put round
// it. QWidget::frameGeometry() can miss a frame that came after the window
// showed; the window's own answer is current.
QRect FrameOf(const QWidget& w) {
  const QWindow* window = w.windowHandle();
  return window != nullptr ? window->frameGeometry() : w.frameGeometry();
}

QImage Rgb32(const QPixmap& picture) {
  return picture.toImage().convertToFormat(QImage::Format_RGB32);
}

// The screen's picture of the area `windows` cover, frames included, taken
// once the screen shows what `top` paints now (the others may lie partly
// under it); null if the screen does not catch up or the area is not wholly
// on it. The whole screen is grabbed, then cut.
QPixmap ScreenPicture(QWidget& top, std::initializer_list<QWidget*> windows) {
  QScreen* screen = top.screen();
  QPixmap shown;
  const bool current = WaitFor(
      [&] {
        shown = screen->grabWindow(0);
        const QImage painted = Rgb32(top.grab());
        return !painted.isNull() && painted == Rgb32(shown.copy(top.geometry()));
      },
      kScreenWaitMs);
  if (!current) return QPixmap();
  QRect area;
  for (const QWidget* w : windows) area |= FrameOf(*w);
  if (!shown.rect().contains(area)) return QPixmap();
  return shown.copy(area);
}

class Director {
 public:
  Director(sim::DemoDevice& device, const QDir& out, const QDir& samples)
      : m_device(device), m_out(out), m_samples(samples) {
    m_start.setSingleShot(true);
    QObject::connect(&m_start, &QTimer::timeout, [this] { Start(); });
    m_limit.setSingleShot(true);
    QObject::connect(&m_limit, &QTimer::timeout, [] {
      std::fprintf(stderr, "quorvel-screenshots: the run took too long\n");
      std::_Exit(1);
    });
  }

  // Called as the application is made: the walk starts when the main
  // dialog's event loop runs.
  void Arm() {
    m_start.start(0);
    m_limit.start(kRunLimitMs);
  }

  bool Succeeded() const { return m_succeeded; }

 private:
  // Runs the walk once the main window is up, then closes the window.
  void Start() {
    QtDialogWindow* w = MainWindow();
    if (w == nullptr) {
      m_start.start(50);
      return;
    }
    // A steady caret: a focused field looks the same in every picture.
    QGuiApplication::styleHints()->setCursorFlashTime(0);
    // The window manager frames the window (and makes it active) a moment
    // after it shows; without one the pictures have no frames.
    if (!WaitFor([w] { return FrameOf(*w) != w->geometry() && w->isActiveWindow(); },
                 kFrameWaitMs)) {
      std::fprintf(stderr, "quorvel-screenshots: no window manager: the pictures have no frames\n");
    }
    m_succeeded = Walk(*w);
    m_limit.stop();
    w->close();
  }

  static QtDialogWindow* MainWindow() {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      auto* w = qobject_cast<QtDialogWindow*>(top);
      if (w != nullptr && w->isVisible()) return w;
    }
    return nullptr;
  }

  bool Walk(QtDialogWindow& w) {
    if (!Shoot(w, "01-no-model", kNoModel)) return false;

    // The device unplugged from the adapter: the adapter is found, the
    // device does not answer.
    m_device.Device(protocol::kModel2).SetSilent(true);
    Click(w, IDC_MODEL2_RADIO);
    if (!Shoot(w, "02-adapter-found", kAdapterOnly)) return false;
    m_device.Device(protocol::kModel2).SetSilent(false);
    if (!Shoot(w, "03-ready-olmar", kReadyOlmar)) return false;

    Click(w, IDC_MODEL1_RADIO);
    if (!Shoot(w, "04-ready-brenix", kReadyBrenix)) return false;
    Click(w, IDC_MODEL2_RADIO);
    if (!Reach(w, kReadyOlmar)) return Fail("OLMAR I did not answer again");

    return Transfer(w) && Failure(w);
  }

  // A whole update; pictures during the transfer and after it.
  bool Transfer(QtDialogWindow& w) {
    auto* status = qobject_cast<QLineEdit*>(w.Control(IDC_STATUS_EDIT));
    bool shot = false;
    const auto watch = QObject::connect(status, &QLineEdit::textChanged, [&](const QString& text) {
      if (shot || !text.startsWith(kTransferring)) return;
      const int percent = text.mid(kTransferring.size()).chopped(1).toInt();
      if (percent < kTransferPicturePercent) return;
      shot = true;
      const QImage image = w.grab().toImage();
      if (LampColour(image, w, IDC_USB_LAMP) != kGreen ||
          LampColour(image, w, IDC_DEVICE_LAMP) != kGreen) {
        Fail(QStringLiteral("the lamps are not green during the transfer"));
        return;
      }
      Save(ScreenPicture(w, {&w}), "05-transferring");
    });
    Update(w, QStringLiteral("olmar-demo.pkc"), nullptr);
    QObject::disconnect(watch);
    if (!shot) return Fail("no progress of " + QString::number(kTransferPicturePercent) + "% or more");
    if (m_failed) return false;
    return Shoot(w, "06-updated", kUpdatedOlmar);
  }

  // An update the device refuses; the picture shows the message box.
  bool Failure(QtDialogWindow& w) {
    bool shot = false;
    Update(w, QStringLiteral("olmar-bad-crc.pkc"), [&](QMessageBox& box) {
      if (box.text() != kCrcError) return;
      shot = true;
      Save(ScreenPicture(box, {&w, &box}), "07-crc-error");
    });
    if (!shot) return Fail(QStringLiteral("no message box \"%1\"").arg(kCrcError));
    // The monitor finds the device again before the window closes.
    if (!Reach(w, {kGreen, kGreen, kHintReady, QStringLiteral("P1.06.00"), std::nullopt}))
      return Fail(QStringLiteral("the device was not found again after the failure"));
    return !m_failed;
  }

  // Presses Update and answers what opens over the window until the job
  // ends: the file dialog with the sample `file`, each message box with OK
  // (after `onBox` has seen it).
  void Update(QtDialogWindow& w, const QString& file,
              const std::function<void(QMessageBox&)>& onBox) {
    QTimer poll;
    QPointer<QWidget> answered;
    QObject::connect(&poll, &QTimer::timeout, [&] {
      QWidget* top = QApplication::activeModalWidget();
      if (top == nullptr || top == &w || top == answered || !top->isVisible()) return;
      answered = top;
      if (auto* chooser = qobject_cast<QFileDialog*>(top)) {
        // Typed into the file name field, as a user would: selectFile()
        // leaves a focused field alone.
        const QString path = m_samples.filePath(file);
        if (auto* name = chooser->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
          name->setText(path);
        else
          chooser->selectFile(path);
        static_cast<QDialog*>(chooser)->accept();  // as its Open button does
        if (chooser->isVisible()) {
          Fail("the file dialog did not take " + path);
          chooser->reject();
        }
      } else if (auto* box = qobject_cast<QMessageBox*>(top)) {
        // A moment for the window manager to frame the box and to draw the
        // main window's frame as inactive.
        WaitFor([] { return false; }, 200);
        if (onBox) onBox(*box);
        box->button(QMessageBox::Ok)->click();
      } else {
        Fail(QStringLiteral("unexpected window %1").arg(top->metaObject()->className()));
        top->close();
      }
    });
    poll.start(10);
    Click(w, IDC_UPDATE);  // returns when the job has ended
  }

  static void Click(QtDialogWindow& w, int id) {
    static_cast<QAbstractButton*>(w.Control(id))->click();
  }

  // Whether the window shows `look`.
  static bool Shows(QtDialogWindow& w, const Look& look) {
    if (TextOf(w, IDC_HINT_TEXT) != look.hint || TextOf(w, IDC_VERSION_TEXT) != look.version)
      return false;
    if (look.status && TextOf(w, IDC_STATUS_EDIT).trimmed() != *look.status) return false;
    const QImage image = w.grab().toImage();
    return LampColour(image, w, IDC_USB_LAMP) == look.usbLamp &&
           LampColour(image, w, IDC_DEVICE_LAMP) == look.deviceLamp;
  }

  static bool Reach(QtDialogWindow& w, const Look& look) {
    return WaitFor([&] { return Shows(w, look); });
  }

  bool Shoot(QtDialogWindow& w, const char* name, const Look& look) {
    if (!Reach(w, look))
      return Fail(QStringLiteral("%1: the window did not reach its state (hint \"%2\", version \"%3\")")
                      .arg(QLatin1String(name), TextOf(w, IDC_HINT_TEXT), TextOf(w, IDC_VERSION_TEXT)));
    return Save(ScreenPicture(w, {&w}), name);
  }

  bool Save(const QPixmap& picture, const char* name) {
    if (picture.isNull())
      return Fail(QStringLiteral("%1: the screen does not show what the window paints").arg(QLatin1String(name)));
    const QString path = m_out.filePath(QLatin1String(name) + QStringLiteral(".png"));
    if (!picture.save(path, "PNG")) return Fail("cannot write " + path);
    std::printf("%s\n", qPrintable(path));
    std::fflush(stdout);
    return true;
  }

  bool Fail(const QString& why) {
    m_failed = true;
    std::fprintf(stderr, "quorvel-screenshots: %s\n", qPrintable(why));
    return false;
  }

  sim::DemoDevice& m_device;
  const QDir m_out;
  const QDir m_samples;
  QTimer m_start;
  QTimer m_limit;
  bool m_failed = false;
  bool m_succeeded = false;
};

Director* g_director = nullptr;

}  // namespace
}  // namespace quorvel::shots

// Runs as the program's QApplication is made. Only Qt's own file dialog can
// be answered here.
static void StartWalk() {
  if (quorvel::shots::g_director == nullptr) return;
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  quorvel::shots::g_director->Arm();
}
Q_COREAPP_STARTUP_FUNCTION(StartWalk)

int main(int argc, char* argv[]) {
  using namespace quorvel;
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "quorvel-screenshots: cannot make %s\n", argv[1]);
    return 1;
  }
  try {
    sim::SimulatedLine line;
    sim::DemoDevice device(line);
    sim::SimulatedPortPlatform ports(SystemPortPlatform(), line);

    Environment environment = Environment::System();
    environment.portPlatform = &ports;
    // English texts whatever the machine's language switch says.
    environment.languageSwitchPath.clear();

    shots::Director director(device, QDir(out.absolutePath()),
                             QDir(QStringLiteral(QUORVEL_SCREENSHOT_SAMPLES_DIR)));
    shots::g_director = &director;
    // Qt sees the program's name only.
    const ProgramInfo program{"quorvel-screenshots", "Pictures of the window for the README.", nullptr};
    RunProgram(1, argv, program, std::move(environment));
    shots::g_director = nullptr;
    return director.Succeeded() ? 0 : 1;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quorvel-screenshots: cannot start the simulated adapter: %s\n", e.what());
    return 1;
  }
}
