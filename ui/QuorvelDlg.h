#pragma once
// The main dialog. It owns the whole state of the program and keeps it to
// itself. Its handlers are thin: the message map, the texts and the lamp
// painting (QuorvelDlg.cpp); the link monitor (QuorvelDlgLink.cpp) runs the
// link probe of link/, the update job (QuorvelDlgUpdate.cpp) the record
// transfer of update/, and both show what those return.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/WideText.h"
#include "link/AdapterRotation.h"
#include "link/LinkProbe.h"
#include "link/Protocol.h"
#include "serial/SerialLink.h"
#include "ui/DialogEx.h"
#include "ui/Environment.h"
#include "ui/LocalisedTexts.h"

namespace quorvel {

enum class UpdateResult;

// The window timer that drives the link monitor.
constexpr unsigned kLinkTimerId = 1;
// A shown link state that no state equals: the version and hint fields are
// written anew at the next ShowLinkStatus.
constexpr uint8_t kStateShownAnew = 0xFF;

namespace test {
class DialogPeer;
}

class CQuorvelDlg : public CDialogEx {
 public:
  CQuorvelDlg(WindowSystem& windowSystem, Environment environment);
  ~CQuorvelDlg() override;

  // --- message map
  bool OnInitDialog() override;
  void OnSysCommand(unsigned nID, long lParam) override;
  void OnPaint() override;
  IconHandle OnQueryDragIcon() override;
  void OnTimer(uintptr_t nIDEvent) override;
  void OnCommand(int id) override;
  void OnOK() override;
  void OnCancel() override;

  // True while an update job holds the port.
  bool JobRunning() const { return m_jobRunning; }
  // A close request from outside the window (a termination signal): during
  // a job it waits for the job's end, which is then told in one line outside
  // the window instead of a box.
  void CloseUnattended();

 private:
  // Reaches the state for the tests' harness.
  friend class test::DialogPeer;
  class JobProgress;

  void OnUpdateClicked();
  void SelectModel1();
  void SelectModel2();

  // --- texts
  void LoadLocalisedTexts();

  // --- link monitor and discovery
  void OnLinkTimer();
  void ProbeModel1();
  void ProbeModel2();
  bool ReadDeviceVersion();
  void ShowLinkStatus();
  void FindAdapterPort();

  // --- update jobs
  Text ChooseUpdateFile(protocol::DeviceModel model);
  void RunUpdateModel1();
  void RunUpdateModel2();
  void PumpMessages();

  // One monitor step for `model`.
  void ProbeStep(protocol::DeviceModel model);
  // The probe of the device on the open port, and what it found shown.
  void Probe(protocol::DeviceModel model);
  // Closes the port of the adapter whose turn is over and opens the next
  // adapter's.
  void MoveToNextAdapter();
  PortPlatform& Ports();
  // Hands a line to the environment's trace (--verbose), if any.
  void Trace(const std::string& line) const;
  void SelectModel(protocol::DeviceModel model, int32_t baudRate);
  void InvalidateLamps();
  // Shared body of the two jobs.
  void RunUpdate(protocol::DeviceModel model);
  // The message box of a job's end: the stop icon for a refusal, none for a
  // failure of the handshake or the transfer.
  void ShowJobEnd(UpdateResult result);
  // The end of a job that held the port: the controls back, how it ended
  // shown, the monitor restarted, then a close that was asked for meanwhile.
  void EndJob(UpdateResult result);
  // Disables (true) or enables the Update and model buttons.
  void LockControlsForJob(bool locked);
  // Waits `ms` with the window painted and answering the desktop, taking no
  // input; `hook` stands in for it when set (tests).
  void WaitResponsive(uint32_t ms, const std::function<void(uint32_t)>& hook);

  // --- state, in declaration order
  IconHandle m_hIcon = 0;
  // The thirteen texts (m_strCaption ... m_strDeviceSelect), English or
  // from the language file.
  LocalisedTexts m_texts;
  Rect m_rcUsbLamp;
  Rect m_rcDeviceLamp;
  Rect m_rcLamps;
  LinkState m_linkState = kNoAdapterPort;
  // The state whose texts the version and hint fields show; kStateShownAnew
  // makes the next ShowLinkStatus write them whatever the state.
  uint8_t m_shownLinkState = kNoAdapterPort;
  uint8_t m_version[7] = {};
  SerialLink m_link;
  int32_t m_refreshVersion = 0;
  protocol::DeviceModel m_model = protocol::kModelNone;
  int32_t m_baudRate = 19200;

  // --- our own additions
  // Where the machine's files, devices and ports are.
  Environment m_env;
  // True while an update job holds the port (from the loaded file to its
  // end): the Update button, the model buttons, the system menu and the
  // About box are unavailable meanwhile.
  bool m_jobRunning = false;
  // A close request that arrived during a job; honoured when the job ends.
  bool m_closePending = false;
  // The close request came from outside the window (a termination signal),
  // so nobody may be there to answer a box: the job's end is told in one
  // line outside the window and the dialog closes at once.
  bool m_closeUnattended = false;
  // Which adapter discovery opens: the current one until the link has
  // stayed short of state 2 on it for kSilentTicksBeforeNextAdapter ticks,
  // then the next one, if there is one.
  AdapterRotation m_rotation;
  // Why an adapter that is plugged in cannot be opened (no permission, held
  // by another program), in one line; empty when there is no such problem.
  // It stands in the hint field instead of the no-adapter hint.
  Text m_portProblem;
  // The latest failure to open an adapter's port, of any kind, for the trace.
  Text m_lastPortFailure;
};

}  // namespace quorvel
