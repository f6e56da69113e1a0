// The workflow on the GUI thread.
#include "app/main/TWorkflowAdapter.h"

#include <QCoreApplication>
#include <QThread>
#include <chrono>
#include <thread>

#include "app/workflow/TFrontEndSetup.h"
#include "drive/qrASPI.h"

namespace brenwick {

namespace {
constexpr int kTimerIntervalMs = 500;
}  // namespace

TWorkflowAdapter::TWorkflowAdapter(TWorkflowView view, TBackupWorkflow::TClock clock, QObject* parent)
    : QObject(parent), m_guiThread(QThread::currentThreadId()) {
    ConfigureBurner(m_cd);
    m_timer.setInterval(kTimerIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &TWorkflowAdapter::tick);
    auto timerChanged = view.timerChanged;
    view.timerChanged = [this, timerChanged](bool running) {
        if (running)
            m_timer.start();
        else
            m_timer.stop();
        if (timerChanged) timerChanged(running);
    };
    // The controls are already in the job's state when this runs, and every command checks that state,
    // so no second job can start from here.
    view.processPending = [] { QCoreApplication::processEvents(); };
    m_workflow = std::make_unique<TBackupWorkflow>(m_access, std::move(view), std::move(clock),
                                                   [this] { schedule(); });
    // BurnCD waits on this thread while the cache fills: the window keeps painting and a Stop is kept.
    m_cd.SleepHook = [this](unsigned ms) { sleepDuringJob(ms); };
    m_cd.OnAddFile = [this](TObject*, const std::string&, std::string&, std::string&, TDateTime&,
                            std::int32_t, std::int64_t, bool&) { pumpWhilePreparing(); };
    m_cd.OnAddDir = [this](TObject*, std::string&, std::string&, bool&) { pumpWhilePreparing(); };
}

void TWorkflowAdapter::pumpWhilePreparing() {
    constexpr qint64 kPumpMs = 50;
    if (!m_preparing || QThread::currentThreadId() != m_guiThread) return;
    if (m_sincePump.isValid() && m_sincePump.elapsed() < kPumpMs) return;
    QCoreApplication::processEvents();
    m_sincePump.restart();
}

TWorkflowAdapter::~TWorkflowAdapter() {
    m_timer.stop();
    m_cd.WaitForRecording();
    m_cd.WaitForErase();
    m_cd.SleepHook = nullptr;
    m_cd.OnAddFile = nullptr;
    m_cd.OnAddDir = nullptr;
    m_workflow.reset();  // no thread can post any more
}

bool TWorkflowAdapter::ReinitializeDrives() {
    return brenwick::ReinitializeDrives(m_cd);
}

bool TWorkflowAdapter::Rescan() {
    if (m_workflow->JobActive()) return false;
    m_cd.WaitForRecording();
    m_cd.WaitForErase();
    ShutdownTransport();
    return ReinitializeDrives();
}

// Any thread: one queued drain at a time, however many events are posted before it runs.
void TWorkflowAdapter::schedule() {
    if (m_drainQueued.exchange(true)) return;
    QMetaObject::invokeMethod(this, &TWorkflowAdapter::drain, Qt::QueuedConnection);
}

void TWorkflowAdapter::drain() {
    m_drainQueued = false;
    m_workflow->ProcessEvents();
}

void TWorkflowAdapter::tick() {
    if (m_workflow->TimerRunning()) m_workflow->Timer1Timer();
}

// Worker threads sleep as asked. On the GUI thread, window events run during the waits of a recording
// or an erase only: then every command but Stop is off and the workflow refuses a second job.
void TWorkflowAdapter::sleepDuringJob(unsigned ms) {
    if (QThread::currentThreadId() == m_guiThread && m_workflow) {
        const TJobState state = m_workflow->State();
        if (state == TJobState::Recording || state == TJobState::Stopping || state == TJobState::Erasing)
            QCoreApplication::processEvents();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace brenwick
