#pragma once
// quorvel-station's window: a set-up form while the model or the file is
// missing, then a tile per slot of the flasher's station, which runs as a
// child process (quorvel-flash station --json) and whose lines feed the
// station model. The transfers run in the station's processes, which hold
// signals and keep flashing whatever happens to the window; the window
// holds no job logic.

#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/Environment.h"
#include "ui/StationModel.h"

class QButtonGroup;
class QGridLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;

namespace quorvel::qt {

class StationTileView;

struct StationConfig {
  int32_t model = 0;               // protocol::kModel1 or kModel2; 0: not given
  std::vector<std::string> ports;  // none: every adapter
  std::string log;                 // empty: the flasher's default, in the working directory
  uint64_t count = 0;              // 0: no end
  std::string file;                // empty: not given
  std::string flasherPath;         // quorvel-flash
};

class StationWindow : public QWidget {
  Q_OBJECT

 public:
  StationWindow(StationConfig config, Environment env, QWidget* parent = nullptr);
  ~StationWindow() override;

  // The station runs (its process has not ended).
  bool Running() const;
  const StationModel* Model() const { return m_model.get(); }
  // A termination signal caught by the program: passed on to the station
  // without asking; the window closes once the station has ended.
  void HoldSignal(int signo);
  // The station's exit status once it has ended, -1 before.
  int StationExitStatus() const { return m_exitStatus; }

  // The flasher beside `programPath`, else the one on the PATH.
  static std::string FindFlasher(const std::string& programPath);

 signals:
  void tileChanged(int index);
  void stationEnded(int exitStatus);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildSetUp();
  void BuildStation();
  void Start();
  // Asks while transfers are in progress; false when the person said no.
  bool ConfirmStop();
  void RequestStop(int signo, bool closeAfter);
  void TakeOutput();
  void TakeErrors();
  void Ended(int exitCode, QProcess::ExitStatus status);
  void ShowTile(size_t index);
  void Reflow();
  void Tick();

  StationConfig m_config;
  Environment m_env;
  StationLabels m_labels;
  std::unique_ptr<StationModel> m_model;
  QElapsedTimer m_clock;
  QProcess m_process;
  QTimer m_tick;
  QTimer m_startSoon;  // a start from the command line, once the window is up
  QByteArray m_pendingOut;
  QByteArray m_pendingErr;
  bool m_stopRequested = false;
  bool m_closeAfter = false;
  int m_exitStatus = -1;
  int m_columns = 0;

  QStackedWidget* m_pages = nullptr;
  // Set-up.
  QButtonGroup* m_modelChoice = nullptr;
  QLineEdit* m_fileEdit = nullptr;
  QLineEdit* m_logEdit = nullptr;
  // Station.
  QLabel* m_headerModel = nullptr;
  QLabel* m_headerFile = nullptr;
  QLabel* m_headerLog = nullptr;
  QLabel* m_totals = nullptr;
  QLabel* m_note = nullptr;
  QPushButton* m_stop = nullptr;
  QWidget* m_grid = nullptr;
  QGridLayout* m_gridLayout = nullptr;
  std::vector<StationTileView*> m_tiles;
};

}  // namespace quorvel::qt
