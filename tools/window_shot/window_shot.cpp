// window_shot: a picture of the main window during a recording, for the README. Opens PROFILE through
// the window's own Open command, presses Burn, and once the Process gauge has passed PERCENT saves the
// window's picture as OUT (PNG); then stops the recording and closes the window.
//   window_shot PROFILE OUT.png [PERCENT]
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/main/TForm1.h"
#include "drive/qrASPI.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fputs("usage: window_shot PROFILE OUT.png [PERCENT]\n", stderr);
        return 2;
    }
    const QString profile = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const int percent = argc > 3 ? std::atoi(argv[3]) : 40;
    int status = 1;
    {
        brenwick::TForm1Dialogs dialogs = brenwick::StandardDialogs();
        dialogs.chooseOpen = [profile](QWidget*, const QString&) { return profile; };
        brenwick::TForm1 form(dialogs);
        form.show();
        bool taken = false;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, &form, [&] {
            if (!taken && form.Gauge->PercentDone() >= percent) {
                taken = true;
                status = form.grab().save(out, "PNG") ? 0 : 1;
                form.ButtonStop->click();
            }
            if (taken && !form.Workflow().JobActive()) form.close();
        });
        QTimer::singleShot(200, &form, [&] {
            form.ButtonOpen->click();
            form.ButtonBurn->click();
            watch.start(50);
        });
        QTimer::singleShot(300000, &form, [&] {  // never hangs a script: a second close stops the recording
            form.close();
            form.close();
        });
        QApplication::exec();
        if (!taken) std::fputs("window_shot: the recording did not get far enough for the picture\n", stderr);
    }
    brenwick::ShutdownTransport();
    return status;
}
