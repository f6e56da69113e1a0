// addfiles_shot: a picture of the add-files window for the README. Shows FOLDER, selects its first
// folder and its first file, adds them to a backup list and saves the window's picture as OUT (PNG).
//   addfiles_shot FOLDER OUT.png
#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <cstdio>

#include "app/main/TForm2.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 3) {
        std::fputs("usage: addfiles_shot FOLDER OUT.png\n", stderr);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[2]);
    QListWidget archives;
    brenwick::TForm2 form(&archives);
    form.show();
    form.ShowFolder(folder);
    brenwick::TNvFilelistView28* list = form.NvFilelistView281;
    int status = 1;
    QTimer::singleShot(500, &form, [&] {
        for (const QString kind : {"dir", "file"})
            for (int row = 0; row < list->ItemCount(); ++row)
                if (list->SubItem(row, 5) == kind) {
                    list->SelectItem(row);
                    break;
                }
        form.BtnAdd->click();
        form.GetStatistics();
        QTimer::singleShot(300, &form, [&] {
            status = form.grab().save(out, "PNG") ? 0 : 1;
            form.close();
            QApplication::quit();
        });
    });
    QApplication::exec();
    return status;
}
