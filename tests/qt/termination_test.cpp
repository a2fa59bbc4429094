// A real termination signal through the program's own application object,
// each run in a process of its own (it may leave every event loop there).

#include <signal.h>
#include <unistd.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cstdio>
#include <filesystem>
#include <string>

#include "QtTestHelpers.h"
#include "app/QuorvelApp.h"
#include "app/Startup.h"
#include "link/Protocol.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedPortPlatform.h"
#include "sim/TempDir.h"
#include "support/DialogPeer.h"
#include "support/TestEnvironment.h"
#include "ui/QuorvelDlg.h"

namespace quorvel::qt {
namespace {

class TerminationTest : public ::testing::Test {
 protected:
  TerminationTest() { GTEST_FLAG_SET(death_test_style, "threadsafe"); }

  // Runs the program with OLMAR I connected, then `act`; exits the process
  // with the program's exit code, or 1 if `ok` fails or a watchdog had to
  // end the run.
  [[noreturn]] void Run(const std::function<void(CQuorvelDlg&, QtDialogWindow&)>& act,
                        const std::function<bool()>& ok = [] { return true; }) {
    Environment environment = testEnv.Make(dir.Path().string(), &ports);
    environment.deviceDir = "/dev/";
    environment.reportLine = [](const std::string& line) {
      std::fprintf(stderr, "quorvel: %s\n", line.c_str());
    };
    CQuorvelApp app(environment);
    QTimer::singleShot(0, [&] {
      auto& dlg = dynamic_cast<CQuorvelDlg&>(*app.m_pMainWnd);
      static_cast<QRadioButton*>(test::WindowOf(dlg)->Control(IDC_MODEL2_RADIO))->click();
      if (test::WaitFor([&] { return quorvel::test::Peer(dlg).m_linkState == 2; }, 8000))
        act(dlg, *test::WindowOf(dlg));
    });
    QTimer::singleShot(30000, [] { std::_Exit(1); });
    app.InitInstance();
    std::_Exit(ok() ? app.ExitCode() : 1);
  }

  sim::SimulatedLine line;
  sim::DemoDevice device{line, {.lineRate = false}};
  sim::SimulatedPortPlatform ports{quorvel::test::NoPortsPlatform(), line};
  sim::TempDir dir;
  quorvel::test::TestEnvironment testEnv;
};

// The job sends every record before the program ends.
TEST_F(TerminationTest, DuringAJobTheJobEndsFirst) {
  const QString sample = QString::fromStdString(
      (std::filesystem::path(QUORVEL_SAMPLES_DIR) / "olmar-demo.pkc").string());
  for (const int signo : {SIGTERM, SIGHUP, SIGINT}) {
    int heldAt = 0;  // progress texts shown while the close was held
    EXPECT_EXIT(Run([&](CQuorvelDlg& dlg, QtDialogWindow& w) {
      QObject::connect(static_cast<QLineEdit*>(w.Control(IDC_STATUS_EDIT)), &QLineEdit::textChanged,
                       [&](const QString& text) {
                         if (!text.startsWith(QStringLiteral("Transferring"))) return;
                         if (quorvel::test::Peer(dlg).m_closePending)
                           ++heldAt;
                         else if (heldAt == 0) kill(getpid(), signo);
                       });
      test::WhenShown(&w, [&](QWidget* chooser) {
        auto* fileDialog = qobject_cast<QFileDialog*>(chooser);
        ASSERT_NE(fileDialog, nullptr);
        test::AnswerFileDialog(fileDialog, sample);
      });
      static_cast<QPushButton*>(w.Control(IDC_UPDATE))->click();
    }, [&] { return heldAt > 0 && device.Device(protocol::kModel2).AcceptedRecords().size() == 16; }),
                testing::ExitedWithCode(128 + signo), "");
  }
}

// A job that fails while a signal's close request waits shows no box that
// nobody may be there to answer: its end goes to standard error and the
// program ends.
TEST_F(TerminationTest, AJobThatFailsMeanwhileEndsWithoutABox) {
  const QString sample = QString::fromStdString(
      (std::filesystem::path(QUORVEL_SAMPLES_DIR) / "olmar-bad-crc.pkc").string());
  EXPECT_EXIT(Run([&](CQuorvelDlg&, QtDialogWindow& w) {
    QObject::connect(static_cast<QLineEdit*>(w.Control(IDC_STATUS_EDIT)), &QLineEdit::textChanged,
                     [](const QString& text) {
                       if (text == QStringLiteral(" ")) kill(getpid(), SIGTERM);  // the job starts
                     });
    test::WheneverShown(&w, [&](QWidget* shown) {
      if (auto* fileDialog = qobject_cast<QFileDialog*>(shown)) {
        test::AnswerFileDialog(fileDialog, sample);
      } else {
        std::_Exit(3);  // a box
      }
    });
    static_cast<QPushButton*>(w.Control(IDC_UPDATE))->click();
  }), testing::ExitedWithCode(128 + SIGTERM), "quorvel: Update Error: Data transfer crc error!");
}

// `quorvel --help` with standard output and error on a pipe whose reader
// has gone; ends the process with the program's exit code.
[[noreturn]] void HelpIntoAClosedPipe() {
  int ends[2];
  if (pipe(ends) != 0) std::_Exit(4);
  close(ends[0]);
  dup2(ends[1], STDOUT_FILENO);
  dup2(ends[1], STDERR_FILENO);
  char name[] = "quorvel";
  char help[] = "--help";
  char* argv[] = {name, help, nullptr};
  const int code = RunProgram(2, argv, ProgramInfo{"quorvel", "Updates.", nullptr}, Environment());
  std::fflush(nullptr);
  std::_Exit(code);
}

// A reader of the program's output that has gone away ends nothing: the
// write fails quietly.
TEST_F(TerminationTest, AClosedOutputEndsNothing) {
  EXPECT_EXIT(HelpIntoAClosedPipe(), testing::ExitedWithCode(0), "");
}

// Outside a job the program ends at once, with the About box open over it.
TEST_F(TerminationTest, OutsideAJobTheProgramEndsAtOnce) {
  EXPECT_EXIT(Run([](CQuorvelDlg& dlg, QtDialogWindow& w) {
    test::WhenShown(&w, [](QWidget*) { kill(getpid(), SIGTERM); });
    dlg.OnSysCommand(IDM_ABOUTBOX, 0);
  }), testing::ExitedWithCode(128 + SIGTERM), "");
}

}  // namespace
}  // namespace quorvel::qt
