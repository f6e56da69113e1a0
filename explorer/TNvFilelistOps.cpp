// The file list's keyboard: opening and going up, selecting all, reloading, and the file operations
// (delete to the trash, copy, move, new folder, rename), which never replace or silently delete anything.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QProgressDialog>
#include <chrono>
#include <thread>

#include "explorer/NvFileOps.h"
#include "explorer/TNvFilelistView28.h"

namespace brenwick {

bool TNvFilelistView28::eventFilter(QObject* watched, QEvent* event) {
    const bool view = watched == m_report || watched == m_icons;
    const bool viewport = watched == m_report->viewport() || watched == m_icons->viewport();
    if (view && event->type() == QEvent::KeyPress) return keyPress(static_cast<QKeyEvent*>(event));
    if (view && event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) itemClicked(m_report->selectionModel()->currentIndex());
        emit KeyUp(key);
    }
    if (viewport && event->type() == QEvent::MouseButtonRelease)
        emit MouseUp(static_cast<QMouseEvent*>(event)->button());
    return QWidget::eventFilter(watched, event);
}

bool TNvFilelistView28::keyPress(QKeyEvent* key) {
    const bool ctrl = key->modifiers() & Qt::ControlModifier;
    switch (key->key()) {
        case Qt::Key_Backspace:
            OneLevelUp();
            return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            OpenItem();
            return true;
        case Qt::Key_F5:
            UpdateFileList();
            return true;
        case Qt::Key_Delete:
            deleteSelection();
            return true;
        case Qt::Key_F3:
            QApplication::beep();
            return true;  // no desktop search to start
        case Qt::Key_F2:
            if (m_readOnly || m_model->DriveView() || !m_report->selectionModel()->currentIndex().isValid()) {
                QApplication::beep();
            } else {
                CurrentView()->edit(m_model->index(m_report->selectionModel()->currentIndex().row(), 0));
            }
            return true;
        default:
            break;
    }
    if (!ctrl) return false;
    switch (key->key()) {
        case Qt::Key_A:
            SelectAll();
            return true;
        case Qt::Key_O:
            OpenItem();
            return true;
        case Qt::Key_C:
        case Qt::Key_X:
            m_clipboard = selectedPaths();
            m_clipboardMove = key->key() == Qt::Key_X;
            return true;
        case Qt::Key_V:
            paste();
            return true;
        case Qt::Key_N:
            newFolder();
            return true;
        case Qt::Key_F: {
            // Text, document and picture files open with the desktop's viewer; other files not at all.
            static const QStringList kViewed = {"c",   "cpp", "dpk", "dpr", "h",   "inf", "ini", "pas",
                                                "prg", "txt", "doc", "rtf", "wri", "bmp", "gif", "jpg"};
            const QList<int> rows = SelectedRows();
            if (!rows.isEmpty() && m_model->Item(rows.first()).kind == TNvKind::File &&
                kViewed.contains(QFileInfo(m_model->Item(rows.first()).path).suffix().toLower()))
                openFile(m_model->Item(rows.first()).path);
            return true;
        }
        default:
            return false;
    }
}

void TNvFilelistView28::deleteSelection() {
    const QStringList paths = selectedPaths();
    if (paths.isEmpty()) return;
    const QString what = paths.size() == 1 ? "\"" + QFileInfo(paths.first()).fileName() + "\""
                                           : QString("these %1 items").arg(paths.size());
    if (!m_shell.confirm(this, "Are you sure you want to move " + what + " to the trash?")) return;
    QStringList failed;
    for (const QString& path : paths)
        if (!QFile::moveToTrash(path)) failed << path;  // never a permanent delete instead
    UpdateFileList();
    if (!failed.isEmpty())
        m_shell.error(this, "Could not move to the trash (nothing was deleted):\n" + failed.join('\n'));
}

void TNvFilelistView28::paste() {
    if (m_model->DriveView() || m_clipboard.isEmpty()) return;
    std::vector<std::string> sources;
    for (const QString& p : m_clipboard) sources.push_back(p.toStdString());
    const std::vector<std::string> refused = PasteRefusals(sources, m_directory.toStdString());
    TNvCopyJob job;
    job.target = m_directory.toStdString();
    job.move = m_clipboardMove;
    QStringList refusedNames;
    for (const std::string& s : sources)
        if (std::find(refused.begin(), refused.end(), s) == refused.end())
            job.sources.push_back(s);
        else
            refusedNames << QString::fromStdString(s);
    if (!refusedNames.isEmpty())
        m_shell.error(this,
                      "Not pasted: an item of the same name is in this folder already, or it is this "
                      "folder itself:\n" +
                          refusedNames.join('\n'));
    if (job.sources.empty()) return;
    // The copy runs on a thread of its own; the window keeps answering and shows its progress.
    QProgressDialog progress(job.move ? "Moving..." : "Copying...", "Cancel", 0, int(job.sources.size()),
                             this);
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(500);
    std::atomic<bool> finished{false};
    std::thread worker([&job, &finished] {
        RunCopyJob(job);
        finished = true;
    });
    while (!finished) {
        progress.setValue(job.done);
        if (progress.wasCanceled()) job.cancel = true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    progress.setValue(int(job.sources.size()));
    if (job.move) m_clipboard.clear();
    UpdateFileList();
    if (!job.failures.empty()) {
        QStringList lines;
        for (const std::string& f : job.failures) lines << QString::fromStdString(f);
        m_shell.error(this, "Not pasted:\n" + lines.join('\n'));
    }
}

void TNvFilelistView28::newFolder() {
    if (m_model->DriveView()) return;
    const QString name = QString::fromStdString(NewFolderName(m_directory.toStdString()));
    if (!QDir(m_directory).mkdir(name)) {
        m_shell.error(this, "Could not create the folder " + m_directory + name);
        return;
    }
    UpdateFileList();
    selectPath(m_directory + name);
}

bool TNvFilelistView28::renameEntry(int row, const QString& name) {
    if (m_readOnly || name.isEmpty() || name == "." || name == ".." || name.contains('/')) {
        QApplication::beep();
        return false;
    }
    const QString from = m_model->Item(row).path;
    const QString to = m_directory + name;
    if (!RenameNoReplace(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString())) {
        m_shell.error(this, "Could not rename " + from + " to " + name +
                                (QFileInfo::exists(to) ? ": an item of that name exists" : QString()));
        return false;
    }
    // The list is read again once the editor has let go of the entry.
    QMetaObject::invokeMethod(
        this,
        [this, to] {
            UpdateFileList();
            selectPath(to);
        },
        Qt::QueuedConnection);
    return true;
}

}  // namespace brenwick
