// Owns the burner and the backup workflow for the main window and runs the workflow on the GUI thread:
// events that the burner raises on worker threads become one queued ProcessEvents, the workflow's timer
// is a 500 ms QTimer, and the burner's waits during a job let the window paint and take Stop.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

#include "app/workflow/TBackupWorkflow.h"
#include "app/workflow/TQrvBurnerAccess.h"
#include "engine/qrCDBC.h"

namespace brenwick {

class TWorkflowAdapter : public QObject {
    Q_OBJECT

  public:
    // `view` is the window's; its timerChanged and processPending are wrapped here.
    explicit TWorkflowAdapter(TWorkflowView view, TBackupWorkflow::TClock clock = {},
                              QObject* parent = nullptr);
    // Waits until no worker thread can call the burner or the workflow any more, then frees them.
    ~TWorkflowAdapter() override;

    TQrvBurner& CD() { return m_cd; }
    TBackupWorkflow& Workflow() { return *m_workflow; }
    QTimer& Timer1() { return m_timer; }

    // Loads the transport and lists the recorders (once a process; again after Rescan).
    bool ReinitializeDrives();
    // Drops the transport and scans again, so a recorder made or a drive plugged in since appears.
    // Refused (false) while a job runs.
    bool Rescan();

    // While set, the folder walk of a Prepare lets window events run every 50 ms, so the window keeps
    // painting and keeps a Stop or a close; the window has every other command off meanwhile.
    void SetPreparing(bool preparing) { m_preparing = preparing; }

  private:
    void schedule();
    void drain();
    void tick();
    void sleepDuringJob(unsigned ms);
    void pumpWhilePreparing();

    TQrvBurner m_cd;
    TQrvBurnerAccess m_access{m_cd};
    std::unique_ptr<TBackupWorkflow> m_workflow;
    QTimer m_timer;
    std::atomic<bool> m_drainQueued{false};
    Qt::HANDLE m_guiThread = nullptr;
    bool m_preparing = false;
    QElapsedTimer m_sincePump;
};

}  // namespace brenwick
