// The add-files window's explorer controls on large folders: a folder of 50,000 files listed and sorted,
// re-sorted by a click on each column header, and a folder of 5,000 sub-folders expanded in the tree.
// Prints figures with the machine's details; runs on Qt's offscreen platform unless a display is chosen.
//   bench_explorer [SCRATCH-FOLDER]   (the system's temporary folder by default)
#include <sys/utsname.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStorageInfo>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "explorer/TNvDirTree21.h"
#include "explorer/TNvFilelistView28.h"

namespace fs = std::filesystem;
using namespace brenwick;

namespace {

void PrintMachine(const fs::path& scratch) {
    QFile cpu("/proc/cpuinfo");
    QString model = "unknown CPU";
    if (cpu.open(QIODevice::ReadOnly))
        for (const QByteArray& line : cpu.readAll().split('\n'))
            if (line.startsWith("model name")) {
                model = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
    utsname u{};
    ::uname(&u);
    const QStorageInfo fsInfo(QString::fromStdString(scratch.string()));
    std::printf("Machine: %s, %u hardware threads, Linux %s, Qt %s, scratch on %s (%s)\n", qPrintable(model),
                std::thread::hardware_concurrency(), u.release, qVersion(), scratch.c_str(),
                fsInfo.fileSystemType().constData());
}

double Seconds(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e9;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const fs::path base = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path();
    const fs::path scratch = base / ("bench-explorer-" + std::to_string(::getpid()));
    const fs::path files = scratch / "files", folders = scratch / "folders";
    fs::create_directories(files);
    fs::create_directories(folders);
    PrintMachine(scratch);

    // 50,000 files of varied names, extensions and sizes.
    static const char* const kExt[] = {".txt", ".jpg", ".pdf", ".cpp",    ".h",
                                       ".odt", ".png", ".mp3", ".tar.gz", ""};
    for (int i = 0; i < 50000; ++i) {
        const int k = (i * 7919) % 50000;
        std::ofstream(files / ("file " + std::to_string(k) + kExt[i % 10]))
            << std::string(std::size_t(k % 3000), 'x');
    }
    // 5,000 sub-folders; every tenth holds a folder of its own, the others a few files.
    for (int i = 0; i < 5000; ++i) {
        const fs::path d = folders / ("folder " + std::to_string(i));
        fs::create_directory(d);
        if (i % 10 == 0)
            fs::create_directory(d / "inner");
        else
            for (const char* name : {"f0.txt", "f1.txt", "f2.txt", "f3.txt", "f4.txt"})
                std::ofstream(d / name) << "x";
    }
    std::printf("Made 50,000 files and 5,000 sub-folders\n");

    TNvFilelistView28 list;
    list.resize(800, 600);
    list.show();
    QElapsedTimer t;
    t.start();
    list.SetDirectory(QString::fromStdString(files.string()));
    QApplication::processEvents();  // the visible rows are drawn (their type names and icons made)
    std::printf("List 50,000 files, sorted by name, first rows drawn:  %.3f s (%d entries)\n", Seconds(t),
                list.ItemCount());
    t.restart();
    list.UpdateFileList();
    QApplication::processEvents();
    std::printf("Same folder again (F5):                              %.3f s\n", Seconds(t));
    static const char* const kColumns[] = {"Name", "Size", "Type", "Modified", "Attributes"};
    for (int column : {1, 3, 4, 2, 0, 0}) {
        t.restart();
        list.ColumnClick(column);
        QApplication::processEvents();
        std::printf("Header click %-10s (%s):              %.3f s\n", kColumns[column],
                    list.SortReversed() ? "descending" : "ascending ", Seconds(t));
    }
    list.SelectAll();
    t.restart();
    const qint64 size = list.SelectedSize();
    std::printf("Selected size of all 50,000 (%lld bytes):         %.3f s\n", static_cast<long long>(size),
                Seconds(t));

    TNvDirTree21 tree;
    tree.resize(300, 600);
    tree.show();
    tree.OpenPath(QString::fromStdString(scratch.string()));
    QTreeWidgetItem* node = tree.Child(tree.currentItem(), "folders");
    t.restart();
    tree.expandItem(node);
    QApplication::processEvents();
    std::printf("Expand a folder of 5,000 sub-folders in the tree:    %.3f s (%d nodes)\n", Seconds(t),
                node->childCount());
    t.restart();
    tree.OpenPath(QString::fromStdString((folders / "folder 4990" / "inner").string()));
    QApplication::processEvents();
    std::printf("Open a path through it from a collapsed tree:        %.3f s\n", Seconds(t));

    std::error_code ec;
    fs::remove_all(scratch, ec);
    return 0;
}
