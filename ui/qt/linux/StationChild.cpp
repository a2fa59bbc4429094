#include "ui/qt/StationChild.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace quorvel::qt {

void PrepareStationChild(QProcess& process) {
  process.setChildProcessModifier([] {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
  });
}

void StopStationChild(const QProcess& process) { PassSignalToStationChild(process, SIGINT); }

void PassSignalToStationChild(const QProcess& process, int signo) {
  const qint64 pid = process.processId();
  if (pid > 0) kill(static_cast<pid_t>(pid), signo);
}

}  // namespace quorvel::qt
