// The profile commands of the main window: New, Open, Save and Save As.
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

#include "app/main/TForm1.h"
#include "app/main/TForm2.h"
#include "app/profile/TBackupProfile.h"
#include "app/workflow/TFrontEndSetup.h"
#include "app/workflow/TRecorderNames.h"

namespace brenwick {

namespace {

const QString kUntitled = "Untitled";
const QString kFilter = "Ini Files (*.ini);;All Files (*)";

}  // namespace

QString AppFolderFor(const QString& programFolder) {
    // An installed program's folder is no place for profiles: the dialogs then open in the home folder.
    const QFileInfo info(programFolder);
    const QString folder = info.isDir() && info.isWritable() ? programFolder : QDir::homePath();
    return folder.endsWith('/') ? folder : folder + '/';
}

TForm1Dialogs StandardDialogs() {
    TForm1Dialogs d;
    d.chooseOpen = [](QWidget* parent, const QString& folder) {
        return QFileDialog::getOpenFileName(parent, "Open Profile", folder, kFilter);
    };
    d.chooseSave = [](QWidget* parent, const QString& folder, const QString& preset) {
        QFileDialog dialog(parent, "Save Profile", folder, kFilter);
        dialog.setAcceptMode(QFileDialog::AcceptSave);  // asks before overwriting
        dialog.setDefaultSuffix("ini");
        if (!preset.isEmpty()) dialog.selectFile(preset);
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return QString();
        return dialog.selectedFiles().first();
    };
    d.showError = [](QWidget* parent, const QString& message) {
        QMessageBox::critical(parent, QGuiApplication::applicationDisplayName(), message);
    };
    return d;
}

void TForm1::ButtonNewClick() {
    for (QCheckBox* box : {cbEraseBefore, cbImport, cbCloseDisc, cbEjectDisc}) box->setChecked(false);
    cbVerify->setChecked(true);  // a new profile reads its sessions back
    selectDevice(0);
    DeviceChange();
    Archives->clear();
    Workflow().ProfileCreated();
    m_profileName = kUntitled;
    setCaption("Brenwick - " + m_profileName);
    EditVolume->clear();
    m_openPath.clear();
    if (m_form2) m_form2->ShowFolder(QString());  // the tree stays where it is, the list follows it
}

void TForm1::ButtonOpenClick() {
    const QString file = m_dialogs.chooseOpen(this, m_appFolder);
    if (file.isEmpty()) return;
    Archives->clear();
    Workflow().ProfileOpened();
    m_profileName = QFileInfo(file).absoluteFilePath();
    setCaption("Brenwick - " + m_profileName);
    const TProfileLoad load = LoadProfile(m_profileName.toStdString());
    ApplyProfile(load.profile, Workflow().Options());
    applyOptions();
    if (load.entriesNotLoaded > 0)
        addLogLine(QString("<<< %1 ENTRIES OF THE PROFILE WERE NOT LOADED").arg(load.entriesNotLoaded));
    selectProfileDevice(load.profile);
    m_openPath = QString::fromStdString(load.profile.OpenPath);
    if (m_form2) m_form2->ShowFolder(m_openPath);
    DeviceChange();
}

void TForm1::ButtonSaveClick() {
    // An untitled profile has no file yet: Save asks for one.
    if (m_profileName.isEmpty() || m_profileName == kUntitled) {
        ButtonSaveAsClick();
        return;
    }
    (void)writeProfile();  // a refused write has shown its error box
}

void TForm1::ButtonSaveAsClick() {
    const QString file = m_dialogs.chooseSave(this, m_appFolder, m_profileName);
    if (file.isEmpty()) return;
    Workflow().ProfileSaved();
    m_profileName = QFileInfo(file).absoluteFilePath();
    setCaption("Brenwick - " + m_profileName);
    (void)writeProfile();
}

// The profile's recorder: its stable name wins over its position; a name that names no recorder selects
// none (and says so) rather than whatever recorder now has the old position.
void TForm1::selectProfileDevice(const TBackupProfile& profile) {
    if (profile.DeviceName.empty()) {
        selectDevice(profile.Device);
        return;
    }
    const TRecorderLookup found =
        FindRecorder(NamedRecorders(m_adapter->CD().DeviceList), profile.DeviceName);
    if (found.index < 0) addLogLine("<<< " + QString::fromStdString(found.error));
    selectDevice(found.index);
}

bool TForm1::writeProfile() {
    syncOptions();
    TBackupProfile profile;
    StoreOptions(Workflow().Options(), profile);
    profile.Device = Device->currentIndex();
    profile.DeviceName = RecorderNameAt(NamedRecorders(m_adapter->CD().DeviceList), profile.Device);
    if (m_form2) m_openPath = m_form2->NvFilelistView281->Directory();
    profile.OpenPath = m_openPath.toStdString();
    std::string error;
    if (SaveProfile(profile, m_profileName.toStdString(), error)) return true;
    m_dialogs.showError(this, QString::fromStdString(error));
    return false;
}

}  // namespace brenwick
