// Termination signals sent to the process itself, through the program's own
// application object and window: during an update job the job runs to its
// end before the program ends; otherwise the program ends at once, even with
// a window open over the dialog.

#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "QtTestHelpers.h"
#include "app/QuorvelApp.h"
#include "link/Protocol.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/SimulatedPortPlatform.h"
#include "sim/TempDir.h"
#include "support/TestEnvironment.h"
#include "ui/QuorvelDlg.h"

namespace quorvel::qt {
namespace {

using test::WaitFor;
using test::WhenShown;
using test::WindowOf;

const std::filesystem::path kSamples =
    std::filesystem::path(__FILE__).parent_path().parent_path().parent_path() / "samples";

class TerminationTest : public ::testing::Test {
 protected:
  // The application object runs its dialog; `act` runs once the dialog is
  // up, with the adapter open and the device answering as OLMAR I. A run
  // still open after 30 s is ended as a failure: false.
  bool Run(CQuorvelApp& app, const std::function<void(CQuorvelDlg&, QtDialogWindow&)>& act) {
    QTimer::singleShot(0, [&] {
      auto* dlg = dynamic_cast<CQuorvelDlg*>(app.m_pMainWnd);
      ASSERT_NE(dlg, nullptr);
      QtDialogWindow& w = *WindowOf(*dlg);
      static_cast<QRadioButton*>(w.Control(IDC_MODEL2_RADIO))->click();
      ASSERT_TRUE(WaitFor([&] { return dlg->m_linkState == 2; }, 8000));
      act(*dlg, w);
    });
    QTimer watchdog;
    bool timedOut = false;
    QObject::connect(&watchdog, &QTimer::timeout, [&app, &timedOut] {
      ADD_FAILURE() << "the program did not end";
      timedOut = true;
      if (app.m_pMainWnd == nullptr) return;
      QtDialogWindow* main = WindowOf(*app.m_pMainWnd);
      while (auto* nested = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        if (nested == main) break;
        nested->done(0);
        if (nested->isVisible()) break;
      }
      main->EndDialog(test::kTimedOut);
    });
    watchdog.start(30000);
    app.InitInstance();
    return !timedOut;
  }

  Environment MakeEnvironment() {
    Environment environment = testEnv.Make(dir.Path().string(), &ports);
    environment.deviceDir = "/dev/";
    return environment;
  }

  sim::SimulatedLine line;
  sim::DemoDevice device{line, {.lineRate = false}};
  sim::SimulatedPortPlatform ports{quorvel::test::NoPortsPlatform(), line};
  sim::TempDir dir;
  quorvel::test::TestEnvironment testEnv;
};

TEST_F(TerminationTest, ASignalDuringAJobEndsTheProgramOnceTheJobHasEnded) {
  for (const int signo : {SIGTERM, SIGHUP, SIGINT}) {
    SCOPED_TRACE(signo);
    const size_t recordsBefore = device.Device(protocol::kModel2).AcceptedRecords().size();
    CQuorvelApp app(MakeEnvironment());
    bool signalled = false;
    bool heldWhileRunning = false;
    QString lastStatus;
    EXPECT_TRUE(Run(app, [&](CQuorvelDlg& dlg, QtDialogWindow& w) {
      auto* status = static_cast<QLineEdit*>(w.Control(IDC_STATUS_EDIT));
      QObject::connect(status, &QLineEdit::textChanged, [&](const QString& text) {
        lastStatus = text;
        if (!text.startsWith(QStringLiteral("Transferring.."))) return;
        if (signalled) heldWhileRunning = heldWhileRunning || (dlg.m_closePending && dlg.m_jobRunning);
        if (!signalled && kill(getpid(), signo) == 0) signalled = true;
      });
      // The file dialog is answered with the sample file; checked again on
      // every tick, so an answer given before the dialog ran is given anew.
      QTimer chooserAnswer;
      QObject::connect(&chooserAnswer, &QTimer::timeout, [] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr || !chooser->isVisible()) return;
        chooser->selectFile(
            QString::fromStdString(std::filesystem::absolute(kSamples / "olmar-demo.pkc").string()));
        static_cast<QDialog*>(chooser)->accept();  // as the Open button does
      });
      chooserAnswer.start(10);
      static_cast<QPushButton*>(w.Control(IDC_UPDATE))->click();
    }));
    EXPECT_TRUE(signalled);
    EXPECT_TRUE(heldWhileRunning) << "the close was not held during the job";
    EXPECT_EQ(lastStatus, QStringLiteral("Updated successfully!"));
    EXPECT_EQ(device.Device(protocol::kModel2).AcceptedRecords().size(), recordsBefore + 16u)
        << "the update did not complete";
    EXPECT_EQ(app.ExitCode(), 128 + signo);
  }
}

// Outside a job the program ends at once, with the About box still open
// over its dialog; run in a process of its own, since it leaves every event
// loop of the process.
TEST_F(TerminationTest, ASignalOutsideAJobEndsTheProgramAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        CQuorvelApp app(MakeEnvironment());
        const bool ended = Run(app, [](CQuorvelDlg& dlg, QtDialogWindow& w) {
          WhenShown(&w, [](QWidget*) { kill(getpid(), SIGTERM); });
          dlg.OnSysCommand(IDM_ABOUTBOX, 0);
        });
        std::_Exit(ended ? app.ExitCode() : 1);
      },
      testing::ExitedWithCode(128 + SIGTERM), "");
}

}  // namespace
}  // namespace quorvel::qt
