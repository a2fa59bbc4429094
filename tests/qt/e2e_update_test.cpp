// The whole program through its Qt window, as a user meets it: the demo's
// simulated adapter and device on a pseudo-terminal, listed as a serial port
// and opened through /dev like a real one. Pick a model, watch the lamps go
// green and the version appear, press Update, choose a sample file in the
// file dialog, and read the outcome in the status field or a message box.

#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <filesystem>
#include <memory>
#include <vector>

#include "QtTestHelpers.h"
#include "link/Protocol.h"
#include "sim/DemoDevice.h"
#include "sim/SimulatedLine.h"
#include "sim/SimulatedPortPlatform.h"
#include "sim/TempDir.h"
#include "support/DialogPeer.h"
#include "support/TestEnvironment.h"
#include "ui/QuorvelDlg.h"
#include "ui/qt/QtWindowSystem.h"

namespace quorvel::qt {
namespace {

using test::kEndedByTest;
using test::RunModalWith;
using test::WaitFor;

constexpr QRgb kRed = 0xFF0000;
constexpr QRgb kGreen = 0x00FF00;

const std::filesystem::path kSamples = QUORVEL_SAMPLES_DIR;


QPoint Centre(const Rect& r) { return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

// Answers the modal windows that open over the main window while it runs:
// the file dialog with `file` (empty: Cancel), every message box with OK.
// Records what each of them showed.
class ModalAnswerer {
 public:
  struct Box {
    QString title;
    QString text;
    QMessageBox::Icon icon;
  };

  explicit ModalAnswerer(QWidget* main)
      : m_watcher(test::WheneverShown(main, [this](QWidget* top) { Answer(top); })) {}
  ~ModalAnswerer() { delete m_watcher.data(); }
  ModalAnswerer(const ModalAnswerer&) = delete;
  ModalAnswerer& operator=(const ModalAnswerer&) = delete;

  QString file;
  int fileDialogs = 0;
  QStringList filters;
  QString selectedFilter;
  std::vector<Box> boxes;

 private:
  void Answer(QWidget* top) {
    if (auto* chooser = qobject_cast<QFileDialog*>(top)) {
      ++fileDialogs;
      filters = chooser->nameFilters();
      selectedFilter = chooser->selectedNameFilter();
      if (file.isEmpty()) {
        chooser->reject();
      } else {
        test::AnswerFileDialog(chooser, file);
      }
    } else if (auto* box = qobject_cast<QMessageBox*>(top)) {
      boxes.push_back({box->windowTitle(), box->text(), box->icon()});
      box->button(QMessageBox::Ok)->click();
    } else {
      ADD_FAILURE() << "unexpected window " << top->metaObject()->className();
      top->close();
    }
  }

  QPointer<test::ShowWatcher> m_watcher;
};

struct ModelCase {
  int radio;
  int32_t model;
  const char* sample;
  const char* badSample;
  QString filter;
  QString version;     // before any update
  QString newVersion;  // what the sample installs
  QString badProgress;  // the last progress before the bad record
};

const ModelCase kOlmar{IDC_MODEL2_RADIO,
                       protocol::kModel2,
                       "olmar-demo.pkc",
                       "olmar-bad-crc.pkc",
                       QStringLiteral("Config Files (*.pkc)"),
                       QStringLiteral("P1.05.12"),
                       QStringLiteral("P1.06.00"),
                       QStringLiteral("Transferring.. 31%")};
const ModelCase kBrenix{IDC_MODEL1_RADIO,
                        protocol::kModel1,
                        "brenix-demo.kyc",
                        "brenix-bad-crc.kyc",
                        QStringLiteral("Config Files (*.kyc)"),
                        QStringLiteral("01.2A.07"),
                        QStringLiteral("01.30.02"),
                        QStringLiteral("Transferring.. 25%")};
// Records of 255 bytes: 2.1 s each on the wire at 1200 baud.
const ModelCase kBrenixFullSize{IDC_MODEL1_RADIO,
                                protocol::kModel1,
                                "brenix-full-size.kyc",
                                nullptr,
                                QStringLiteral("Config Files (*.kyc)"),
                                QStringLiteral("01.2A.07"),
                                QStringLiteral("01.31.00"),
                                QString()};

class EndToEndTest : public ::testing::Test {
 protected:
  Environment MakeEnvironment() {
    Environment environment = testEnv.Make(dir.Path().string(), &ports);
    // The simulated adapter is opened as /dev/pts/N, as the demo opens it.
    environment.deviceDir = "/dev/";
    return environment;
  }

  QString Text(QtDialogWindow& w, int id) {
    QWidget* control = w.Control(id);
    if (auto* label = qobject_cast<QLabel*>(control)) return label->text();
    if (auto* edit = qobject_cast<QLineEdit*>(control)) return edit->text();
    return QStringLiteral("<no text>");
  }

  // The two lamps' colours as painted now.
  std::pair<QRgb, QRgb> Lamps(QtDialogWindow& w) {
    const QImage image = w.grab().toImage();
    return {image.pixel(Centre(quorvel::test::Peer(*dlg).m_rcUsbLamp)) & 0xFFFFFF,
            image.pixel(Centre(quorvel::test::Peer(*dlg).m_rcDeviceLamp)) & 0xFFFFFF};
  }

  // What a screen reader says of the two lamps, as painted now.
  std::pair<QString, QString> LampNames(QtDialogWindow& w) {
    return {w.Control(IDC_USB_LAMP)->accessibleName(), w.Control(IDC_DEVICE_LAMP)->accessibleName()};
  }

  // Clicks the model's radio button and waits for both lamps to go green.
  void Connect(QtDialogWindow& w, const ModelCase& c) {
    EXPECT_EQ(Lamps(w), std::make_pair(kRed, kRed));
    EXPECT_EQ(LampNames(w), std::make_pair(QStringLiteral("USB Adapter State: not connected"),
                                           QStringLiteral("Device State: not connected")));
    EXPECT_EQ(w.Control(IDC_STATUS_EDIT)->accessibleName(), QStringLiteral("Update status"));
    static_cast<QRadioButton*>(w.Control(c.radio))->click();
    ASSERT_TRUE(WaitFor([&] { return quorvel::test::Peer(*dlg).m_linkState == 2; }, 15000))
        << int(quorvel::test::Peer(*dlg).m_linkState);
    EXPECT_EQ(Lamps(w), std::make_pair(kGreen, kGreen));
    EXPECT_EQ(LampNames(w), std::make_pair(QStringLiteral("USB Adapter State: connected"),
                                           QStringLiteral("Device State: connected")));
    EXPECT_EQ(Text(w, IDC_VERSION_TEXT), c.version);
    EXPECT_EQ(Text(w, IDC_HINT_TEXT), QStringLiteral("You can update the software."));
  }

  // Presses Update; the job runs to its end inside the click. Returns every
  // text the status field showed meanwhile.
  QStringList Update(QtDialogWindow& w) {
    QStringList shown;
    auto* status = static_cast<QLineEdit*>(w.Control(IDC_STATUS_EDIT));
    const auto connection =
        QObject::connect(status, &QLineEdit::textChanged, [&](const QString& t) { shown << t; });
    static_cast<QPushButton*>(w.Control(IDC_UPDATE))->click();
    QObject::disconnect(connection);
    return shown;
  }

  void ExpectFileDialogOffered(const ModalAnswerer& answers, const ModelCase& c) {
    EXPECT_EQ(answers.fileDialogs, 1);
    EXPECT_EQ(answers.filters, (QStringList{c.filter, QStringLiteral("All Files (*)")}));
    EXPECT_EQ(answers.selectedFilter, c.filter);
  }

  // A copy of the sample in this test's own directory: test programs that
  // run at the same time never hold the same file.
  QString SamplePath(const char* name) {
    const std::filesystem::path copy = dir.Path() / name;
    std::filesystem::copy_file(kSamples / name, copy, std::filesystem::copy_options::overwrite_existing);
    return QString::fromStdString(copy.string());
  }

  void UpdatesSuccessfully(const ModelCase& c);
  void StopsAtTheBadRecord(const ModelCase& c);

  // Declared first, gone last: the dialog closes its port before the line goes.
  sim::SimulatedLine line;
  sim::DemoDevice device{line, {.lineRate = false}};
  sim::SimulatedPortPlatform ports{quorvel::test::NoPortsPlatform(), line};
  sim::TempDir dir;
  quorvel::test::TestEnvironment testEnv;
  QtWindowSystem ws;
  std::unique_ptr<CQuorvelDlg> dlg = std::make_unique<CQuorvelDlg>(ws, MakeEnvironment());
};

void EndToEndTest::UpdatesSuccessfully(const ModelCase& c) {
  RunModalWith(
      *dlg,
      [&](QtDialogWindow& w) {
        Connect(w, c);
        ModalAnswerer answers(&w);
        answers.file = SamplePath(c.sample);
        const QStringList shown = Update(w);

        ExpectFileDialogOffered(answers, c);
        EXPECT_TRUE(answers.boxes.empty()) << answers.boxes.front().text.toStdString();
        EXPECT_EQ(Text(w, IDC_STATUS_EDIT), QStringLiteral("Updated successfully!"));
        // " ", then a climbing percentage after every record, then success.
        ASSERT_GE(shown.size(), 3);
        EXPECT_EQ(shown.front(), QStringLiteral(" "));
        EXPECT_EQ(shown.back(), QStringLiteral("Updated successfully!"));
        EXPECT_EQ(shown[shown.size() - 2], QStringLiteral("Transferring.. 100%"));
        int last = -1;
        for (qsizetype i = 1; i + 1 < shown.size(); ++i) {
          ASSERT_TRUE(shown[i].startsWith(QStringLiteral("Transferring.. "))) << shown[i].toStdString();
          const int percent = shown[i].mid(15).chopped(1).toInt();
          EXPECT_GT(percent, last) << shown[i].toStdString();
          last = percent;
        }
        EXPECT_EQ(testEnv.pauses, std::vector<uint32_t>{1000});

        // The monitor reads the version again: the new firmware's.
        EXPECT_TRUE(WaitFor([&] { return Text(w, IDC_VERSION_TEXT) == c.newVersion; }, 15000))
            << Text(w, IDC_VERSION_TEXT).toStdString();
        EXPECT_EQ(Lamps(w), std::make_pair(kGreen, kGreen));
        w.EndDialog(kEndedByTest);
      },
      30000);
  EXPECT_EQ(device.CurrentModel(), c.model);
}

void EndToEndTest::StopsAtTheBadRecord(const ModelCase& c) {
  RunModalWith(
      *dlg,
      [&](QtDialogWindow& w) {
        Connect(w, c);
        const size_t versionQueries = device.Device(c.model).VersionQueryCount();
        ModalAnswerer answers(&w);
        answers.file = SamplePath(c.badSample);
        Update(w);

        ExpectFileDialogOffered(answers, c);
        ASSERT_EQ(answers.boxes.size(), 1u);
        EXPECT_EQ(answers.boxes[0].text, QStringLiteral("Update Error: Data transfer crc error!"));
        EXPECT_EQ(answers.boxes[0].icon, QMessageBox::NoIcon);
        EXPECT_EQ(answers.boxes[0].title, QStringLiteral("Update Routine V1.1.1"));
        EXPECT_EQ(Text(w, IDC_STATUS_EDIT), c.badProgress);
        EXPECT_EQ(quorvel::test::Peer(*dlg).m_link.hPort, kInvalidPort);

        // The monitor opens the adapter again and reads the version anew:
        // the device kept its old firmware.
        EXPECT_TRUE(WaitFor(
            [&] {
              return quorvel::test::Peer(*dlg).m_link.hPort != kInvalidPort &&
                     quorvel::test::Peer(*dlg).m_linkState == 2;
            },
            15000));
        EXPECT_GT(device.Device(c.model).VersionQueryCount(), versionQueries);
        EXPECT_EQ(Lamps(w), std::make_pair(kGreen, kGreen));
        EXPECT_EQ(Text(w, IDC_VERSION_TEXT), c.version);
        w.EndDialog(kEndedByTest);
      },
      30000);
}

TEST_F(EndToEndTest, OlmarUpdatesFromItsSampleFile) { UpdatesSuccessfully(kOlmar); }
TEST_F(EndToEndTest, BrenixUpdatesFromItsSampleFile) { UpdatesSuccessfully(kBrenix); }
// At the real pace, as the demo runs: the echo of a record longer on the
// wire than the echo wait is still in time.
TEST_F(EndToEndTest, BrenixTakesFullSizeRecordsAtTheLinesPace) {
  line.SetLineRate(protocol::kBaudModel1);
  UpdatesSuccessfully(kBrenixFullSize);
}
TEST_F(EndToEndTest, OlmarStopsAtABadRecordWithTheCrcMessage) { StopsAtTheBadRecord(kOlmar); }
TEST_F(EndToEndTest, BrenixStopsAtABadRecordWithTheCrcMessage) { StopsAtTheBadRecord(kBrenix); }

// Cancelling the file dialog is refused with the stop icon before the line
// is touched; switching the model then switches the device.
TEST_F(EndToEndTest, CancelledFileThenTheOtherModel) {
  RunModalWith(
      *dlg,
      [&](QtDialogWindow& w) {
        Connect(w, kBrenix);
        ModalAnswerer answers(&w);
        const QStringList shown = Update(w);
        ASSERT_EQ(answers.boxes.size(), 1u);
        EXPECT_EQ(answers.boxes[0].text, QStringLiteral("Fail to open the file!"));
        EXPECT_EQ(answers.boxes[0].icon, QMessageBox::Critical);
        EXPECT_TRUE(shown.isEmpty());
        EXPECT_EQ(device.Device(protocol::kModel1).HandshakeCount(1), 0u);

        static_cast<QRadioButton*>(w.Control(kOlmar.radio))->click();
        ASSERT_TRUE(WaitFor([&] { return Text(w, IDC_VERSION_TEXT) == kOlmar.version; }, 15000))
            << Text(w, IDC_VERSION_TEXT).toStdString();
        EXPECT_EQ(device.CurrentModel(), protocol::kModel2);
        EXPECT_EQ(Lamps(w), std::make_pair(kGreen, kGreen));
        w.EndDialog(kEndedByTest);
      },
      30000);
}

}  // namespace
}  // namespace quorvel::qt
