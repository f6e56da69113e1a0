#include "explorer/NvShell.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QUrl>

#include "explorer/NvListLogic.h"

namespace brenwick {

namespace {

QString Permissions(const QFileInfo& info) {
    const QFile::Permissions p = info.permissions();
    QString s;
    for (auto [r, w, x] : {std::tuple{QFile::ReadOwner, QFile::WriteOwner, QFile::ExeOwner},
                           std::tuple{QFile::ReadGroup, QFile::WriteGroup, QFile::ExeGroup},
                           std::tuple{QFile::ReadOther, QFile::WriteOther, QFile::ExeOther}})
        s += QString(p & r ? "r" : "-") + (p & w ? "w" : "-") + (p & x ? "x" : "-");
    return s + "  (" + info.owner() + ", " + info.group() + ")";
}

// The explorer's own properties dialog: name, type, location, size, modified and permissions.
void ShowPropertiesDialog(QWidget* parent, const QString& path) {
    const QFileInfo info(path);
    QDialog dialog(parent);
    dialog.setWindowTitle(info.fileName() + " Properties");
    auto* form = new QFormLayout(&dialog);
    static const QMimeDatabase db;
    const QString type = info.isDir()
                             ? db.mimeTypeForName("inode/directory").comment()
                             : db.mimeTypeForFile(info.fileName(), QMimeDatabase::MatchExtension).comment();
    const QString size = info.isDir()
                             ? QString("-")
                             : QString::fromStdString(GroupThousands(std::uint64_t(info.size()))) + " bytes";
    form->addRow("Name:", new QLabel(info.fileName().isEmpty() ? path : info.fileName()));
    form->addRow("Type:",
                 new QLabel(type + (info.isSymLink() ? " (link to " + info.symLinkTarget() + ")" : "")));
    form->addRow("Location:", new QLabel(info.absolutePath()));
    form->addRow("Size:", new QLabel(size));
    form->addRow("Modified:", new QLabel(QLocale().toString(info.lastModified(), QLocale::LongFormat)));
    form->addRow("Permissions:", new QLabel(Permissions(info)));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    form->addRow(buttons);
    dialog.exec();
}

}  // namespace

TNvShell StandardShell() {
    TNvShell s;
    s.warn = [](QWidget* parent, const QString& text) { QMessageBox::warning(parent, "Warning", text); };
    s.error = [](QWidget* parent, const QString& text) { QMessageBox::critical(parent, "Error", text); };
    s.confirm = [](QWidget* parent, const QString& text) {
        return QMessageBox::question(parent, "Confirm", text) == QMessageBox::Yes;
    };
    s.open = [](const QString& path) { return QDesktopServices::openUrl(QUrl::fromLocalFile(path)); };
    s.properties = ShowPropertiesDialog;
    return s;
}

}  // namespace brenwick
