#include "ui/qt/StationWindow.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCollator>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

#include "base/Sha256.h"
#include "link/Protocol.h"
#include "serial/PortList.h"
#include "ui/FileFilter.h"
#include "ui/qt/DialogLayout.h"
#include "ui/qt/StationChild.h"
#include "update/UpdateFile.h"

namespace quorvel::qt {

namespace {

constexpr int kTileMinWidth = 340;
constexpr int kTickMs = 1000;  // the clock and the devices per hour
constexpr char kDefaultLog[] = "quorvel-station.log";  // the flasher's default

QString Q(const Text& text) { return ToQString(text); }

const char* ModelOption(int32_t model) { return model == protocol::kModel1 ? "brenix" : "olmar"; }

// Neutral while waiting, blue while flashing, green for PASS, red for FAIL.
const char* TileColours(TileState state) {
  switch (state) {
    case TileState::Flashing: return "background:#1565c0; color:white;";
    case TileState::Pass: return "background:#2e7d32; color:white;";
    case TileState::Fail: return "background:#c62828; color:white;";
    case TileState::Waiting:
    case TileState::Device: break;
  }
  return "background:#e6e6e6; color:black;";
}

}  // namespace

// One slot: port and adapter, the state in large letters, a progress bar
// while flashing, the detail and the slot's counts.
class StationTileView : public QFrame {
 public:
  explicit StationTileView(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("tile"));
    setFrameShape(QFrame::StyledPanel);
    setMinimumSize(kTileMinWidth - 20, 200);
    auto* column = new QVBoxLayout(this);
    m_head = new QLabel(this);
    m_state = new QLabel(this);
    QFont big = m_state->font();
    big.setPointSize(30);
    big.setBold(true);
    m_state->setFont(big);
    m_state->setAlignment(Qt::AlignCenter);
    m_state->setWordWrap(true);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setTextVisible(false);
    m_detail = new QLabel(this);
    QFont medium = m_detail->font();
    medium.setPointSize(14);
    m_detail->setFont(medium);
    m_detail->setAlignment(Qt::AlignCenter);
    m_detail->setWordWrap(true);
    m_counts = new QLabel(this);
    column->addWidget(m_head);
    column->addStretch(1);
    column->addWidget(m_state);
    column->addWidget(m_bar);
    column->addWidget(m_detail);
    column->addStretch(1);
    column->addWidget(m_counts);
  }

  void Show(const StationModel& model, const StationTile& tile) {
    Text head = PortLabel(tile.port);
    if (!tile.serial.empty()) head += u"   " + tile.serial;
    m_head->setText(Q(head));
    m_state->setText(Q(model.StateText(tile)));
    m_bar->setVisible(tile.state == TileState::Flashing);
    m_bar->setValue(tile.progress);
    m_detail->setText(Q(model.DetailText(tile)));
    m_counts->setText(Q(model.CountsText(tile)));
    // A style sheet is costly to apply: only when the colour changes, not
    // on every step of the progress.
    const char* colours = TileColours(tile.state);
    if (colours != m_colours) {
      m_colours = colours;
      setStyleSheet(QStringLiteral("QFrame#tile { %1 } QLabel { %1 }").arg(QString::fromLatin1(colours)));
    }
    setAccessibleName(Q(model.AccessibleName(tile)));
  }

 private:
  QLabel* m_head;
  QLabel* m_state;
  QProgressBar* m_bar;
  QLabel* m_detail;
  QLabel* m_counts;
  const char* m_colours = nullptr;
};

StationWindow::StationWindow(StationConfig config, Environment env, QWidget* parent)
    : QWidget(parent), m_config(std::move(config)), m_env(std::move(env)), m_labels(LoadStationLabels(m_env)) {
  setWindowTitle(Q(m_labels.caption));
  resize(1100, 700);
  m_pages = new QStackedWidget(this);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->addWidget(m_pages);
  BuildSetUp();
  BuildStation();
  connect(&m_process, &QProcess::readyReadStandardOutput, this, &StationWindow::TakeOutput);
  connect(&m_process, &QProcess::readyReadStandardError, this, &StationWindow::TakeErrors);
  connect(&m_process, &QProcess::finished, this, &StationWindow::Ended);
  connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
    if (error != QProcess::FailedToStart) return;
    m_note->setText(QString::fromStdString(m_config.flasherPath) + QStringLiteral(": ") + m_process.errorString());
    std::fprintf(stderr, "quorvel-station: cannot run %s\n", m_note->text().toLocal8Bit().constData());
    Ended(127, QProcess::NormalExit);  // as a shell says of a command it cannot run
  });
  connect(&m_tick, &QTimer::timeout, this, &StationWindow::Tick);
  if (m_config.model != 0 && !m_config.file.empty()) {
    m_startSoon.setSingleShot(true);
    connect(&m_startSoon, &QTimer::timeout, this, &StationWindow::Start);
    m_startSoon.start(0);
  }
}

StationWindow::~StationWindow() {
  // Closed without its station ending (the program's end): the station is
  // stopped as on Stop and waited for, bounded by its longest transfer.
  // Nothing more is shown or told while it ends.
  m_process.disconnect(this);
  if (m_process.state() != QProcess::NotRunning) {
    StopStationChild(m_process);
    m_process.waitForFinished(600000);
  }
}

std::string StationWindow::FindFlasher(const std::string& programPath) {
  const QFileInfo beside(QFileInfo(QString::fromStdString(programPath)).dir(), QStringLiteral("quorvel-flash"));
  if (!programPath.empty() && beside.isExecutable()) return beside.absoluteFilePath().toStdString();
  const QString onPath = QStandardPaths::findExecutable(QStringLiteral("quorvel-flash"));
  return onPath.isEmpty() ? std::string("quorvel-flash") : onPath.toStdString();
}

void StationWindow::BuildSetUp() {
  auto* page = new QWidget(m_pages);
  auto* form = new QFormLayout(page);
  m_modelChoice = new QButtonGroup(page);
  auto* models = new QHBoxLayout;
  for (const int32_t model : {protocol::kModel1, protocol::kModel2}) {
    auto* radio = new QRadioButton(Q(protocol::ModelName(model)), page);
    m_modelChoice->addButton(radio, model);
    models->addWidget(radio);
    if (model == m_config.model) radio->setChecked(true);
  }
  models->addStretch(1);
  form->addRow(Q(m_labels.model), models);
  m_fileEdit = new QLineEdit(QString::fromStdString(m_config.file), page);
  m_fileEdit->setObjectName(QStringLiteral("file"));
  auto* browse = new QPushButton(Q(m_labels.browse), page);
  browse->setObjectName(QStringLiteral("browse"));
  connect(browse, &QPushButton::clicked, this, [this] {
    const int32_t model = m_modelChoice->checkedId() > 0 ? m_modelChoice->checkedId() : protocol::kModel2;
    const QString chosen = QFileDialog::getOpenFileName(this, Q(m_labels.file), m_fileEdit->text(),
                                                        NameFilters(Text(UpdateFileFilter(model))).join(u";;"));
    if (!chosen.isEmpty()) m_fileEdit->setText(chosen);
  });
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(m_fileEdit, 1);
  fileRow->addWidget(browse);
  form->addRow(Q(m_labels.file), fileRow);
  const QString log = QString::fromStdString(m_config.log.empty() ? kDefaultLog : m_config.log);
  m_logEdit = new QLineEdit(QFileInfo(log).absoluteFilePath(), page);
  m_logEdit->setObjectName(QStringLiteral("log"));
  form->addRow(Q(m_labels.log), m_logEdit);
  auto* start = new QPushButton(Q(m_labels.start), page);
  start->setObjectName(QStringLiteral("start"));
  start->setDefault(true);
  connect(start, &QPushButton::clicked, this, &StationWindow::Start);
  form->addRow(start);
  m_pages->addWidget(page);
}

void StationWindow::BuildStation() {
  auto* page = new QWidget(m_pages);
  auto* column = new QVBoxLayout(page);
  auto* header = new QGridLayout;
  m_headerModel = new QLabel(page);
  m_headerFile = new QLabel(page);
  m_headerLog = new QLabel(page);
  m_totals = new QLabel(page);
  QFont bold = m_totals->font();
  bold.setPointSize(bold.pointSize() + 4);
  bold.setBold(true);
  m_totals->setFont(bold);
  m_headerModel->setFont(bold);
  m_note = new QLabel(page);
  m_note->setObjectName(QStringLiteral("note"));
  // Long paths and notes give way, so the window may be narrowed to a
  // column of tiles.
  for (QLabel* label : {m_headerFile, m_headerLog, m_note}) {
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  m_note->setWordWrap(true);
  m_stop = new QPushButton(Q(m_labels.stop), page);
  m_stop->setObjectName(QStringLiteral("stop"));
  m_stop->setMinimumHeight(48);
  m_stop->setFont(bold);
  connect(m_stop, &QPushButton::clicked, this, [this] {
    if (ConfirmStop()) RequestStop(0, false);
  });
  header->addWidget(m_headerModel, 0, 0);
  header->addWidget(m_headerFile, 0, 1);
  header->addWidget(m_stop, 0, 2, 2, 1);
  header->addWidget(m_totals, 1, 0);
  header->addWidget(m_headerLog, 1, 1);
  header->addWidget(m_note, 2, 0, 1, 3);
  header->setColumnStretch(1, 1);
  column->addLayout(header);
  auto* scroll = new QScrollArea(page);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);
  scroll->viewport()->installEventFilter(this);
  m_grid = new QWidget(scroll);
  m_gridLayout = new QGridLayout(m_grid);
  m_gridLayout->setAlignment(Qt::AlignTop);
  scroll->setWidget(m_grid);
  column->addWidget(scroll, 1);
  m_pages->addWidget(page);
}

void StationWindow::Start() {
  const int32_t model = m_modelChoice->checkedId() > 0 ? m_modelChoice->checkedId() : 0;
  const QString file = m_fileEdit->text().trimmed();
  if (model == 0 || file.isEmpty()) {
    m_pages->setCurrentIndex(0);
    return;
  }
  // The file is refused here with the usual texts, before a station starts;
  // the station takes it again, as its own.
  {
    const UpdateFile accepted = AcceptUpdateFile(FromQString(file), model);
    if (!accepted.Accepted()) {
      m_pages->setCurrentIndex(0);
      QMessageBox::critical(this, QString(), Q(accepted.Message()));
      return;
    }
  }
  const QString path = QFileInfo(file).absoluteFilePath();
  const QString log = QFileInfo(m_logEdit->text().trimmed().isEmpty() ? QString::fromLatin1(kDefaultLog)
                                                                       : m_logEdit->text().trimmed())
                          .absoluteFilePath();
  const std::optional<std::string> sha = FileSha256Hex(path.toStdString());
  m_headerModel->setText(Q(m_labels.model) + QStringLiteral(": ") + Q(protocol::ModelName(model)));
  m_headerFile->setText(Q(m_labels.file) + QStringLiteral(": ") + QFileInfo(path).fileName() +
                        QStringLiteral("   SHA-256 ") + QString::fromStdString(sha ? sha->substr(0, 12) : "?"));
  m_headerFile->setToolTip(path);
  m_headerLog->setText(Q(m_labels.log) + QStringLiteral(": ") + log);

  m_clock.start();
  m_model = std::make_unique<StationModel>(m_labels, 0, [this](const std::string& port) {
    // The adapter's serial number, from the machine's port list.
    std::vector<SSerInfo> ports;
    PortPlatform& platform = m_env.portPlatform != nullptr ? *m_env.portPlatform : SystemPortPlatform();
    if (ListSerialPorts(ports, platform).Failed()) return Text();
    return AdapterSerialOf(ports, port);
  });
  QStringList args{QStringLiteral("station"), QStringLiteral("--json"), QStringLiteral("--model"),
                   QString::fromLatin1(ModelOption(model))};
  for (const std::string& port : m_config.ports) args << QStringLiteral("--port") << QString::fromStdString(port);
  args << QStringLiteral("--log") << log;
  if (m_config.count > 0) args << QStringLiteral("--count") << QString::number(m_config.count);
  args << path;
  PrepareStationChild(m_process);
  m_process.start(QString::fromStdString(m_config.flasherPath), args, QIODevice::ReadOnly);
  m_pages->setCurrentIndex(1);
  m_stop->setEnabled(true);
  Tick();
  m_tick.start(kTickMs);
}

bool StationWindow::Running() const { return m_process.state() != QProcess::NotRunning; }

bool StationWindow::ConfirmStop() {
  if (m_stopRequested || !m_model || !m_model->Transferring()) return true;
  const auto answer = QMessageBox::question(this, Q(m_labels.caption), Q(m_labels.confirmStop),
                                            QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
  return answer == QMessageBox::Yes;
}

void StationWindow::RequestStop(int signo, bool closeAfter) {
  m_closeAfter = m_closeAfter || closeAfter;
  if (!Running()) {
    if (m_closeAfter) close();
    return;
  }
  // Passed on once: a second Ctrl+C would stop a transfer between records.
  if (m_stopRequested) return;
  m_stopRequested = true;
  if (signo == 0) StopStationChild(m_process);
  else PassSignalToStationChild(m_process, signo);
  m_stop->setEnabled(false);
  m_note->setText(Q(m_labels.stopping));
}

void StationWindow::HoldSignal(int signo) { RequestStop(signo, true); }

void StationWindow::closeEvent(QCloseEvent* event) {
  if (!Running()) {
    event->accept();
    return;
  }
  // The station ends first: its transfers are never cut short.
  event->ignore();
  if (ConfirmStop()) RequestStop(0, true);
}

bool StationWindow::eventFilter(QObject* watched, QEvent* event) {
  // The tiles fill the width they are given, reflowed on every resize.
  if (event->type() == QEvent::Resize) Reflow();
  return QWidget::eventFilter(watched, event);
}

void StationWindow::TakeOutput() {
  m_pendingOut += m_process.readAllStandardOutput();
  qsizetype nl;
  while ((nl = m_pendingOut.indexOf('\n')) >= 0) {
    const QByteArray line = m_pendingOut.left(nl);
    m_pendingOut.remove(0, nl + 1);
    if (!m_model) continue;
    const QString noteBefore = Q(m_model->Note());
    if (const std::optional<size_t> index = m_model->Feed(std::string_view(line.constData(), line.size()))) {
      if (!noteBefore.isEmpty() && m_model->Note().empty() && m_note->text() == noteBefore) m_note->clear();
      ShowTile(*index);
      emit tileChanged(static_cast<int>(*index));
    } else if (!m_stopRequested && !m_model->Note().empty()) {
      m_note->setText(Q(m_model->Note()));
    }
  }
  Tick();
}

void StationWindow::TakeErrors() {
  m_pendingErr += m_process.readAllStandardError();
  qsizetype nl;
  while ((nl = m_pendingErr.indexOf('\n')) >= 0) {
    const QByteArray line = m_pendingErr.left(nl);
    m_pendingErr.remove(0, nl + 1);
    // The station's own words, also where the window was started.
    std::fprintf(stderr, "%s\n", line.constData());
    // Once a stop is asked for, the header says so: the station's advice
    // for a terminal is not the window's.
    if (!m_stopRequested && !line.trimmed().isEmpty()) m_note->setText(QString::fromUtf8(line));
  }
}

void StationWindow::Ended(int exitCode, QProcess::ExitStatus status) {
  TakeOutput();
  TakeErrors();
  m_tick.stop();
  Tick();
  m_exitStatus = status == QProcess::NormalExit ? exitCode : 128 + exitCode;
  m_stop->setEnabled(false);
  const QString said = m_note->text();
  m_note->setText(Q(m_labels.ended) +
                  (m_stopRequested || said.isEmpty() || said == Q(m_labels.stopping) ? QString()
                                                                                        : QStringLiteral(": ") + said));
  emit stationEnded(m_exitStatus);
  if (m_closeAfter) {
    // Whatever was asked meanwhile has been answered by the end.
    while (QWidget* box = QApplication::activeModalWidget()) {
      if (box == this || !box->close()) break;
    }
    close();
  }
}

void StationWindow::ShowTile(size_t index) {
  while (m_tiles.size() <= index) {
    m_tiles.push_back(new StationTileView(m_grid));
    m_columns = 0;  // placed anew
  }
  m_tiles[index]->Show(*m_model, m_model->Tiles()[index]);
  if (m_columns == 0) Reflow();
}

void StationWindow::Reflow() {
  if (m_gridLayout == nullptr || !m_model) return;
  const int width = m_grid->parentWidget() != nullptr ? m_grid->parentWidget()->width() : m_grid->width();
  const int columns = std::max(1, width / kTileMinWidth);
  if (columns == m_columns) return;
  m_columns = columns;
  // In the order of the ports' names (ttyUSB2 before ttyUSB10), whichever
  // slot spoke first.
  std::vector<size_t> order(m_tiles.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = i;
  QCollator collator;
  collator.setNumericMode(true);
  const std::vector<StationTile>& tiles = m_model->Tiles();
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    return collator.compare(QString::fromStdString(tiles[a].port), QString::fromStdString(tiles[b].port)) < 0;
  });
  for (StationTileView* tile : m_tiles) m_gridLayout->removeWidget(tile);
  for (size_t place = 0; place < order.size(); ++place) {
    StationTileView* tile = m_tiles[order[place]];
    m_gridLayout->addWidget(tile, static_cast<int>(place) / columns, static_cast<int>(place) % columns);
    tile->show();
  }
}

void StationWindow::Tick() {
  if (m_model) m_totals->setText(Q(m_model->TotalsText(static_cast<uint64_t>(m_clock.elapsed()))));
}

}  // namespace quorvel::qt
