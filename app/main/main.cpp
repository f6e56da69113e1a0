// brenwick: the backup program's windows. One instance runs at a time; the windows are created in a fixed
// order (the main window, whose start-up steps run while it is built, then About, then add-files) and the
// message loop runs until the main window closes.
#include <QApplication>
#include <memory>

#include "app/main/TAboutForm.h"
#include "app/main/TForm1.h"
#include "app/main/TForm2.h"
#include "app/main/TInstanceLock.h"
#include "drive/qrASPI.h"

int main(int argc, char** argv) {
    const brenwick::TInstanceLock lock;  // held until the process ends
    if (lock.HeldElsewhere()) {
        return 0;  // another instance runs: no window, no message
    }
    QApplication app(argc, argv);
    int status = 0;
    {
        brenwick::TForm1 Form1;
        brenwick::TAboutForm AboutForm;
        Form1.AboutForm = &AboutForm;
        brenwick::TForm2 Form2(Form1.Archives);  // the add-files window, created third
        Form1.AttachAddFiles(&Form2);
        Form1.show();
        status = QApplication::exec();
        Form1.AboutForm = nullptr;  // About and add-files go before the main window
        Form1.AttachAddFiles(nullptr);
    }                               // the window waits for every worker thread before the burner goes
    brenwick::ShutdownTransport();  // the image recorders save their state and let their folders go
    return status;
}
