// brenwick: the backup program's main window.
#include <QApplication>

#include "app/main/TForm1.h"
#include "app/main/TForm2.h"
#include "drive/qrASPI.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    {
        brenwick::TForm1 form;
        brenwick::TForm2 addFiles(form.Archives);
        form.AttachAddFiles(&addFiles);
        form.show();
        status = QApplication::exec();
    }                               // the window waits for every worker thread before the burner goes
    brenwick::ShutdownTransport();  // the image recorders save their state and let their folders go
    return status;
}
