#pragma once
// The main dialog. It owns the whole state of the program. Its handlers are
// thin: the link monitor (QuorvelDlgLink.cpp) runs the link probe of link/,
// the update job (QuorvelDlgUpdate.cpp) the record transfer of update/, and
// both show what those return.

#include <cstddef>
#include <cstdint>

#include "link/AdapterRotation.h"
#include "serial/SerialLink.h"
#include "base/WideText.h"
#include "ui/DialogEx.h"
#include "ui/Environment.h"

namespace quorvel {

enum class UpdateResult;

// The window timer that drives the link monitor.
constexpr unsigned kLinkTimerId = 1;

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
  Text ChooseUpdateFile(int32_t model);
  void RunUpdateModel1();
  void RunUpdateModel2();
  void PumpMessages();

  // --- state, in declaration order
  IconHandle m_hIcon = 0;
  Text m_strCaption;
  Text m_strSwVersionLabel;
  Text m_strConnStatusLabel;
  Text m_strDeviceLinkLabel;
  Text m_strUpdateButton;
  Text m_strUsbStateLabel;
  Text m_strDeviceStateLabel;
  Rect m_rcUsbLamp;
  Rect m_rcDeviceLamp;
  Rect m_rcLamps;
  uint8_t m_linkState = 0;
  uint8_t m_shownLinkState = 0;
  Text m_strSuccessful;
  Text m_strHintNoAdapter;
  Text m_strHintNoDevice;
  Text m_strHintReady;
  Text m_strTransferring;
  Text m_strDeviceSelect;
  uint8_t m_version[7] = {};
  SerialLink m_link;
  int32_t m_refreshVersion = 0;
  int32_t m_model = 0;
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

 private:
  // One monitor step for `model`.
  void ProbeStep(int32_t model);
  // The probe of the device on the open port, and what it found shown.
  void Probe(int32_t model);
  // Closes the port of the adapter whose turn is over and opens the next
  // adapter's.
  void MoveToNextAdapter();
  PortPlatform& Ports();
  // Hands a line to the environment's trace (--verbose), if any.
  void Trace(const std::string& line) const;
  void SelectModel(int32_t model, int32_t baudRate);
  void InvalidateLamps();
  // Shared body of the two jobs.
  void RunUpdate(int32_t model);
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
};

}  // namespace quorvel
