#include "ui/QuorvelDlg.h"

namespace quorvel {
void CQuorvelDlg::OnUpdateClicked() {}
Text CQuorvelDlg::ChooseUpdateFile(int32_t) { return {}; }
void CQuorvelDlg::RunUpdateModel1() {}
void CQuorvelDlg::RunUpdateModel2() {}
void CQuorvelDlg::PumpMessages() {}
bool CQuorvelDlg::HandshakeModel1(Text&) { return false; }
bool CQuorvelDlg::HandshakeModel2(Text&) { return false; }
void CQuorvelDlg::RunUpdate(int32_t, bool (CQuorvelDlg::*)(Text&)) {}
void CQuorvelDlg::LockControlsForJob(bool) {}
}  // namespace quorvel
