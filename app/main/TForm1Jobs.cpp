// The main window's jobs and its closing: the commands hand the controls' values to the workflow and
// run it; a Prepare's walk and a running job keep the window responsive, and a close never frees the
// burner under a running thread.
#include <QCloseEvent>

#include "app/main/TForm1.h"
#include "app/main/TForm2.h"

namespace brenwick {

// ---- jobs ----

void TForm1::syncOptions() {
    TWorkflowOptions& o = Workflow().Options();
    o.Archives.clear();
    for (int i = 0; i < Archives->count(); ++i) o.Archives.push_back(Archives->item(i)->text().toStdString());
    o.EraseBefore = cbEraseBefore->isChecked();
    o.Import = cbImport->isChecked();
    o.CloseDisc = cbCloseDisc->isChecked();
    o.EjectDisc = cbEjectDisc->isChecked();
    o.Verify = cbVerify->isChecked();
    o.Volume = EditVolume->text().toStdString();
}

void TForm1::applyOptions() {
    const TWorkflowOptions& o = Workflow().Options();
    Archives->clear();
    for (const std::string& entry : o.Archives) Archives->addItem(QString::fromStdString(entry));
    cbEraseBefore->setChecked(o.EraseBefore);
    cbImport->setChecked(o.Import);
    cbCloseDisc->setChecked(o.CloseDisc);
    cbEjectDisc->setChecked(o.EjectDisc);
    cbVerify->setChecked(o.Verify);
    EditVolume->setText(QString::fromStdString(o.Volume));
}

void TForm1::ButtonEraseClick() {
    syncOptions();
    Workflow().ButtonEraseClick();
}

void TForm1::ButtonPrePareClick() {
    syncOptions();
    runPreparing(false, [this] { Workflow().ButtonPrePareClick(); });
}

void TForm1::ButtonBurnClick() {
    syncOptions();
    runPreparing(true, [this] { Workflow().ButtonBurnClick(); });
}

void TForm1::ButtonStopClick() {
    if (m_preparingBurn && !Workflow().JobActive()) {  // applied once the recording exists
        m_stopAfterPrepare = true;
        ButtonStop->setEnabled(false);
        return;
    }
    Workflow().ButtonStopClick();
}

void TForm1::runPreparing(bool burn, const std::function<void()>& job) {
    if (m_preparing) return;
    m_preparing = true;
    m_preparingBurn = burn;
    m_stopAfterPrepare = false;
    TControlStates busy = ControlStatesFor(TJobState::Recording);
    busy.stop = burn;
    showControls(busy);
    m_adapter->SetPreparing(true);
    job();
    m_adapter->SetPreparing(false);
    m_preparing = false;
    m_preparingBurn = false;
    m_stopAfterPrepare = false;
    showState(Workflow().State());
    if (m_closeWhenDone && !Workflow().JobActive()) {
        m_closeWhenDone = false;
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    }
}

// The About window is shown without holding the main window; the same window comes back each time.
void TForm1::ButtonAboutClick() {
    if (AboutForm != nullptr) {
        AboutForm->show();
        AboutForm->raise();
    }
}

// Shows the add-files window, not modal: it stays usable while this window runs a job.
void TForm1::ButtonAddClick() {
    if (!m_form2) return;
    m_form2->show();
    m_form2->raise();
    m_form2->activateWindow();
}

void TForm1::ButtonExitClick() {
    close();
}

void TForm1::ButtonRemoveClick() {
    while (!Archives->selectedItems().isEmpty()) {
        for (int i = 0; i < Archives->count(); ++i) {
            if (Archives->item(i)->isSelected()) {
                delete Archives->takeItem(i);
                break;
            }
        }
    }
}

// ---- closing ----

// A close during a job never frees the burner under a running thread: during a recording the first
// close only warns and a second one stops it, and the window closes when the job has ended.
void TForm1::closeEvent(QCloseEvent* event) {
    TBackupWorkflow& wf = Workflow();
    // During a Prepare the window closes when it has ended; a recording it was to start is stopped at once.
    if (m_preparing && !wf.JobActive()) {
        event->ignore();
        m_closeWhenDone = true;
        if (m_preparingBurn) m_stopAfterPrepare = true;
        return;
    }
    if (!wf.JobActive()) {
        event->accept();
        return;
    }
    event->ignore();
    if (wf.State() == TJobState::Erasing) {
        if (!m_closeWhenDone) addLogLine("<<< THE DISC IS BEING ERASED: THE WINDOW CLOSES WHEN IT ENDS");
        (void)wf.RequestStop();  // calls off a burn that would follow the erase
        m_closeWhenDone = true;
        return;
    }
    if (!m_closeAsked && wf.State() != TJobState::Stopping) {  // once stopping, a close needs no second one
        m_closeAsked = true;
        addLogLine("<<< A RECORDING IS RUNNING: CLOSE AGAIN TO STOP IT");
        return;
    }
    (void)wf.RequestStop();
    m_closeWhenDone = true;
}

void TForm1::onJobFinished() {
    m_closeAsked = false;
    if (!m_closeWhenDone) return;
    m_closeWhenDone = false;
    QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

}  // namespace brenwick
