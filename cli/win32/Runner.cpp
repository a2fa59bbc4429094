// The jobs' host on Windows: a thread per port, each with a serial link of
// its own, reporting its event lines to the program's loop. Threads rather
// than processes: a Windows process cannot fork, so a job in a process of
// its own would start the program again and take the accepted file, the
// task and its control over a pipe; threads share the file read once and
// the hold and stop flags as they are.
//
// What POSIX systems hold as signals comes here as console events and
// session messages: Ctrl+C and Ctrl+Break as SIGINT (a second one stops
// the transfers between records), closing the console window as SIGHUP,
// logoff and shutdown as SIGTERM. The program holds: no transfer starts,
// waits end, transfers in progress run to their end. A close, logoff or
// shutdown ends the program once its handler returns, so the handler waits
// (bounded) for the program's end; while transfers run, a hidden window of
// the program's own registers a shutdown-block reason, which Windows shows
// to the user who logs off or shuts down.

#include <windows.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/Flash.h"
#include "cli/JobHost.h"
#include "cli/win32/Console.h"

namespace quorvel::cli {

namespace {

// The numbers the POSIX program exits with (128+N).
constexpr int kSigHup = 1;
constexpr int kSigInt = 2;
constexpr int kSigTerm = 15;

// How long a console close, logoff or shutdown waits for the program's end
// when Windows does not end it first: the longest transfer with every
// record sent four times.
constexpr DWORD kEndWaitMs = 10 * 60 * 1000;

std::atomic<int> g_held{0};        // the first stop, as its signal number; 0 if none
std::atomic<int> g_interrupts{0};  // Ctrl+C and Ctrl+Break so far
std::atomic<int> g_transfers{0};   // jobs with a transfer under way
HANDLE g_ended = nullptr;          // set once the program's output is finished
HWND g_window = nullptr;           // the hidden window of the session's messages

constexpr UINT kTransfersChanged = WM_APP + 1;

// Wakes the host's loop; set by the host while it runs.
std::mutex g_wakeMutex;
std::function<void()> g_wake;

void Wake() {
  const std::lock_guard<std::mutex> lock(g_wakeMutex);
  if (g_wake) g_wake();
}

void Hold(int signo) {
  int none = 0;
  g_held.compare_exchange_strong(none, signo);
  Wake();
}

// The session or the console ends: the transfers in progress end first, and
// the program its output.
void WaitForProgramEnd() {
  if (g_ended != nullptr) WaitForSingleObject(g_ended, kEndWaitMs);
}

BOOL WINAPI OnConsoleEvent(DWORD type) {
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      ++g_interrupts;
      Hold(kSigInt);
      return TRUE;
    case CTRL_CLOSE_EVENT:
      Hold(kSigHup);
      WaitForProgramEnd();
      return TRUE;
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      Hold(kSigTerm);
      WaitForProgramEnd();
      return TRUE;
    default:
      return FALSE;
  }
}

constexpr wchar_t kBlockReason[] =
    L"quorvel-flash is updating devices: a device whose transfer is cut off is left without a complete image.";

LRESULT CALLBACK SessionWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kTransfersChanged:
      if (g_transfers.load() > 0) ShutdownBlockReasonCreate(window, kBlockReason);
      else ShutdownBlockReasonDestroy(window);
      return 0;
    case WM_QUERYENDSESSION:
      // No transfer starts any more; one under way keeps the session until
      // it ends, unless the user ends the session anyway.
      Hold(kSigTerm);
      return g_transfers.load() > 0 ? FALSE : TRUE;
    case WM_ENDSESSION:
      if (wParam != FALSE) {
        Hold(kSigTerm);
        WaitForProgramEnd();
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

// The hidden top-level window and its messages, on a thread of its own (a
// message-only window hears no session messages).
void RunSessionWindow(HANDLE ready) {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = SessionWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"QuorvelFlashSession";
  RegisterClassW(&windowClass);
  g_window = CreateWindowExW(0, windowClass.lpszClassName, L"quorvel-flash", WS_OVERLAPPED, 0, 0, 0, 0, nullptr,
                             nullptr, windowClass.hInstance, nullptr);
  SetEvent(ready);
  if (g_window == nullptr) return;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
}

void TransfersChanged() {
  if (g_window != nullptr) PostMessageW(g_window, kTransfersChanged, 0, 0);
}

class ThreadJobHost final : public JobHost {
 public:
  ~ThreadJobHost() override {
    {
      const std::lock_guard<std::mutex> lock(g_wakeMutex);
      g_wake = nullptr;
    }
    // The loop ends once every job has; one still running (the loop left
    // early) is held and waited for, as a process would run to its end.
    for (auto& job : m_jobs) {
      if (job) job->hold = true;
    }
    for (auto& job : m_jobs) {
      if (job && job->thread.joinable()) job->thread.join();
    }
  }

  bool Open(std::string&) override {
    const std::lock_guard<std::mutex> lock(g_wakeMutex);
    g_wake = [this] {
      const std::lock_guard<std::mutex> inner(m_mutex);
      m_woken = true;
      m_changed.notify_all();
    };
    return true;
  }

  bool Start(size_t index, const std::string& port, const PortTask& task, std::string& error) override {
    if (m_jobs.size() <= index) m_jobs.resize(index + 1);
    auto job = std::make_unique<ThreadJob>();
    ThreadJob* const self = job.get();
    try {
      job->thread = std::thread([this, self, index, port, task] { Run(*self, index, port, task); });
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
    m_jobs[index] = std::move(job);
    return true;
  }

  bool Wait(int timeoutMs, std::vector<JobNews>& news) override {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto come = [this] { return !m_news.empty() || m_woken || m_resized; };
    bool timedOut = false;
    if (timeoutMs < 0) m_changed.wait(lock, come);
    else timedOut = !m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), come);
    m_woken = false;
    std::vector<JobNews> taken;
    taken.swap(m_news);
    lock.unlock();
    for (JobNews& n : taken) {
      // An ended job's thread has reported its last: it is joined here.
      if (n.ended && m_jobs[n.job] && m_jobs[n.job]->thread.joinable()) m_jobs[n.job]->thread.join();
      news.push_back(std::move(n));
    }
    return timedOut;
  }

  void Hold(size_t job) override {
    if (job < m_jobs.size() && m_jobs[job]) m_jobs[job]->hold = true;
  }
  void Stop(size_t job) override {
    if (job < m_jobs.size() && m_jobs[job]) m_jobs[job]->stop = true;
  }

  // A console window's width is read at every redraw, which comes at least
  // with every event.
  void WatchResize() override {}
  bool TakeResized() override { return false; }

 private:
  struct ThreadJob {
    std::thread thread;
    std::atomic<bool> hold{false};
    std::atomic<bool> stop{false};
    bool transferring = false;  // on the job's thread only
  };

  void Run(ThreadJob& job, size_t index, const std::string& port, const PortTask& task) {
    const JobControl control{[&job] { return job.hold.load() || g_held.load() != 0; },
                             [&job] { return job.stop.load(); }};
    const EventSink sink = [this, &job, index](const Event& event) {
      const bool transferring = event.state == "transferring" && event.result.empty();
      if (transferring != job.transferring) {
        job.transferring = transferring;
        g_transfers += transferring ? 1 : -1;
        TransfersChanged();
      }
      JobNews n;
      n.job = index;
      n.data = EncodeEvent(event);
      Post(std::move(n));
    };
    JobNews end;
    end.job = index;
    end.ended = true;
    end.endedHow = "the job ended without a result";
    try {
      end.status = static_cast<int>(task(PortDevicePath(port), sink, control));
    } catch (const std::exception& e) {
      end.status = static_cast<int>(Outcome::Failed);
      end.endedHow = std::string("the job failed: ") + e.what();
    }
    if (job.transferring) {
      job.transferring = false;
      --g_transfers;
      TransfersChanged();
    }
    Post(std::move(end));
  }

  void Post(JobNews news) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_news.push_back(std::move(news));
    m_changed.notify_all();
  }

  std::vector<std::unique_ptr<ThreadJob>> m_jobs;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::vector<JobNews> m_news;
  bool m_woken = false;
  bool m_resized = false;
};

}  // namespace

std::unique_ptr<JobHost> MakeJobHost() { return std::make_unique<ThreadJobHost>(); }

int InterruptCount() { return g_interrupts.load(); }

bool StopRequested() { return g_held.load() != 0; }

int HeldExitStatus() {
  const int held = g_held.load();
  if (held == 0) return 0;
  // Transfers stopped by a second Ctrl+C end as Ctrl+C does.
  return 128 + (g_interrupts.load() >= 2 ? kSigInt : held);
}

void InstallStopHandlers() {
  g_ended = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  const HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread(RunSessionWindow, ready).detach();
  if (ready != nullptr) {
    WaitForSingleObject(ready, 5000);
    CloseHandle(ready);
  }
}

void ProgramEnded() {
  if (g_ended != nullptr) SetEvent(g_ended);
}

}  // namespace quorvel::cli
