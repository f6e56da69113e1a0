// TForm1: the main window. It holds the profile's controls, shows the log, the status panels and the
// three gauges, and wires every command to the backup workflow, which keeps the job state; the window
// only shows that state.
#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "app/main/TWorkflowAdapter.h"
#include "app/profile/TBackupProfile.h"
#include "widgets/EnStatusBar.h"
#include "widgets/PmGauge.h"

namespace brenwick {

class TForm2;

// The window's dialogs, replaceable so that tests can answer them.
struct TForm1Dialogs {
    // The chosen file, or empty when the user cancels.
    std::function<QString(QWidget* parent, const QString& folder)> chooseOpen;
    std::function<QString(QWidget* parent, const QString& folder, const QString& preset)> chooseSave;
    std::function<void(QWidget* parent, const QString& message)> showError;
};
TForm1Dialogs StandardDialogs();

// The folder the profile dialogs open in, with a trailing "/": the program's folder, or the home folder
// when the program's folder is not writable (an installed program).
QString AppFolderFor(const QString& programFolder);

class TForm1 : public QWidget {
    Q_OBJECT

  public:
    // `clock` gives the local time that names each run's folder (the system's when unset).
    explicit TForm1(TForm1Dialogs dialogs = StandardDialogs(), TBackupWorkflow::TClock clock = {},
                    QWidget* parent = nullptr);
    ~TForm1() override;

    TBackupWorkflow& Workflow() { return m_adapter->Workflow(); }
    TWorkflowAdapter& Adapter() { return *m_adapter; }

    // The About window the About command shows (set by the program; none in tests that need none).
    QWidget* AboutForm = nullptr;
    const QString& ProfileName() const { return m_profileName; }
    const QString& AppFolder() const { return m_appFolder; }
    // The add-files window, which Add shows and New, Open and Save steer (made at start-up).
    void AttachAddFiles(TForm2* form) { m_form2 = form; }

    // ---- controls (the window's field names) ----
    QToolBar* ToolBar;
    QToolButton *ButtonNew, *ButtonOpen, *ButtonSave, *ButtonSaveAs, *ButtonErase, *ButtonPrePare,
        *ButtonBurn, *ButtonStop, *ButtonAbout, *ButtonExit;
    QGroupBox* GroupBox2;
    QListWidget* Archives;
    QToolButton *ButtonAdd, *ButtonRemove;
    QGroupBox* GroupBox3;
    QComboBox* Device;
    QLabel* Label1;
    QLineEdit* EditVolume;
    QCheckBox *cbEraseBefore, *cbImport, *cbCloseDisc, *cbEjectDisc, *cbVerify;
    QPlainTextEdit* Log;
    TEnStatusBar* StatusBar;
    TPmGauge *Gauge, *GaugeBuf, *GaugeCDBuf;

    // ---- handlers ----
    void FormCreate();
    void DeviceChange();
    void ButtonNewClick();
    void ButtonOpenClick();
    void ButtonSaveClick();
    void ButtonSaveAsClick();
    void ButtonEraseClick();
    void ButtonPrePareClick();
    void ButtonBurnClick();
    void ButtonStopClick();
    void ButtonAboutClick();
    void ButtonExitClick();
    void ButtonAddClick();
    void ButtonRemoveClick();

    // The Device box's context menu: scans for recorders again (a recorder made or a drive plugged in
    // since start appears), while no job runs. Keeps the selected recorder when it is still listed.
    void RescanRecorders();
    // For an image recorder, while no job runs: a new blank disc of the media type `key` ("cd-r-80"; the
    // old disc is kept as an image file), the tray closed, and the disc described in the log.
    void InsertBlankDisc(const QString& key);
    void CloseTray();
    void ShowDisc();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildToolBar();
    void buildArchives();
    void buildOptions();
    void buildStatusBar();
    void wireHandlers();
    void showDeviceMenu(const QPoint& at);
    void addRecorderActions(QMenu& menu);
    TWorkflowView makeView();

    void addLogLine(const QString& line);
    void LogChange();
    void showState(TJobState state);
    void showControls(const TControlStates& states);
    // Runs a Prepare or a Burn with the window busy: every command off but About, and Stop for a Burn.
    void runPreparing(bool burn, const std::function<void()>& job);
    void showProgress(const TProgress& progress);
    void onJobFinished();
    void setCaption(const QString& caption);
    void fillDevices();
    void selectDevice(int index);
    void selectProfileDevice(const TBackupProfile& profile);
    void syncOptions();
    void applyOptions();
    [[nodiscard]] bool writeProfile();

    TForm1Dialogs m_dialogs;
    std::unique_ptr<TWorkflowAdapter> m_adapter;
    QString m_profileName;
    QString m_appFolder;
    QString m_openPath;            // the add-files window's folder, kept for Save when there is no such window
    TForm2* m_form2 = nullptr;     // the add-files window (not owned)
    bool m_closeAsked = false;     // a close came during a recording: the next one stops it
    bool m_closeWhenDone = false;  // the window closes when the running job ends
    bool m_preparing = false;      // a Prepare, or the Prepare of a Burn, walks the Archives
    bool m_preparingBurn = false;
    bool m_stopAfterPrepare = false;  // Stop (or a close) came during a Burn's Prepare
};

}  // namespace brenwick
