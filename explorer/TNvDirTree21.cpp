#include "explorer/TNvDirTree21.h"

#include <QApplication>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>

#include "explorer/NvFileOps.h"
#include "explorer/NvFileScan.h"
#include "explorer/NvListLogic.h"
#include "explorer/TNvFilelistView28.h"

namespace brenwick {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kLoadedRole = Qt::UserRole + 1;
constexpr int kNetworkRole = Qt::UserRole + 2;
constexpr int kRemovableRole = Qt::UserRole + 3;
constexpr int kNameRole = Qt::UserRole + 4;

const QFileIconProvider& Icons() {
    static const QFileIconProvider provider;
    return provider;
}

int Level(const QTreeWidgetItem* item) {
    int level = 0;
    for (const QTreeWidgetItem* p = item->parent(); p; p = p->parent()) ++level;
    return level;
}

void CollapseAll(QTreeWidget* tree, QTreeWidgetItem* item) {
    for (int i = 0; i < item->childCount(); ++i)
        if (item->child(i)->isExpanded()) CollapseAll(tree, item->child(i));
    tree->collapseItem(item);
}

}  // namespace

TNvDirTree21::TNvDirTree21(QWidget* parent, TNvShell shell) : QTreeWidget(parent), m_shell(std::move(shell)) {
    setColumnCount(1);
    setHeaderHidden(true);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    connect(this, &QTreeWidget::itemExpanded, this, &TNvDirTree21::loadChildren);
    connect(this, &QTreeWidget::itemChanged, this, &TNvDirTree21::renamed);
    Reload();
}

void TNvDirTree21::SetFileList(TNvFilelistView28* list) {
    if (m_list == list) return;
    m_list = list;
    if (list) list->SetDirTree(this);
}

QString TNvDirTree21::PathOf(const QTreeWidgetItem* item) {
    return item ? item->data(0, kPathRole).toString() : QString();
}

void TNvDirTree21::Reload() {
    m_renaming = true;
    clear();
    auto* root = new QTreeWidgetItem(this, QStringList("Computer"));
    root->setIcon(0, Icons().icon(QAbstractFileIconProvider::Computer));
    root->setData(0, kPathRole, "Drives");
    root->setData(0, kLoadedRole, true);
    buildDrives();
    expandItem(root);
    m_renaming = false;
}

void TNvDirTree21::buildDrives() {
    m_volumes = MountedVolumes();
    QList<QTreeWidgetItem*> drives;
    for (const TNvVolume& v : m_volumes) {
        auto* item = new QTreeWidgetItem(QStringList(v.caption));
        item->setIcon(0, Icons().icon(QAbstractFileIconProvider::Drive));
        item->setData(0, kPathRole, v.root);
        item->setData(0, kNetworkRole, v.network);
        item->setData(0, kRemovableRole, v.removable);
        item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
        drives << item;
    }
    Root()->addChildren(drives);
}

void TNvDirTree21::loadChildren(QTreeWidgetItem* node) {
    if (!node || node->data(0, kLoadedRole).toBool()) return;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    node->setData(0, kLoadedRole, true);
    node->setChildIndicatorPolicy(QTreeWidgetItem::DontShowIndicatorWhenChildless);
    const QString path = WithSlash(PathOf(node));
    const bool network = node->data(0, kNetworkRole).toBool();
    QStringList names;
    for (const std::string& n : SubFolderNames(path.toStdString())) names << QString::fromStdString(n);
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    const QIcon folder = Icons().icon(QAbstractFileIconProvider::Folder);
    QList<QTreeWidgetItem*> children;
    children.reserve(names.size());
    for (const QString& name : names) {
        auto* child = new QTreeWidgetItem(QStringList(name));
        child->setIcon(0, folder);
        child->setData(0, kPathRole, path + name);
        child->setData(0, kNameRole, name);
        child->setData(0, kNetworkRole, network);
        if (!ReadOnly) child->setFlags(child->flags() | Qt::ItemIsEditable);
        // A network folder is not looked into; any other shows its button only when it has a sub-folder.
        const bool more = network || HasSubFolder((path + name).toStdString());
        child->setChildIndicatorPolicy(more ? QTreeWidgetItem::ShowIndicator
                                            : QTreeWidgetItem::DontShowIndicatorWhenChildless);
        children << child;
    }
    m_renaming = true;
    node->addChildren(children);
    m_renaming = false;
    QApplication::restoreOverrideCursor();
}

QTreeWidgetItem* TNvDirTree21::Child(QTreeWidgetItem* node, const QString& name) {
    loadChildren(node);
    for (int i = 0; i < node->childCount(); ++i)
        if (node->child(i)->data(0, kNameRole).toString() == name) return node->child(i);
    return nullptr;
}

void TNvDirTree21::SelectNode(QTreeWidgetItem* item) {
    if (!item) return;
    if (item == Root() && item->childCount() == 0) buildDrives();
    m_selectedPath = PathOf(item);
    if (Level(item) == 1 && item->data(0, kRemovableRole).toBool() &&
        !DiskPresent(TNvVolume{PathOf(item), {}, {}, false, true})) {
        QApplication::beep();
        m_shell.warn(this, kNoDiskText);
        return;
    }
    emit OnDirChange(m_selectedPath);
    if (m_list && !m_selectedPath.isEmpty()) m_list->SetDirectory(m_selectedPath);
}

void TNvDirTree21::OpenPath(const QString& path) {
    // An empty or relative path, or one that is no folder, leaves the tree as it is.
    if (!path.startsWith('/') || !QFileInfo(path).isDir()) return;
    const QString target = WithSlash(QDir::cleanPath(path));
    if (Root()->childCount() == 0) buildDrives();
    CollapseAll(this, Root());
    expandItem(Root());
    // The walk starts at the drive that holds the folder (the longest mounted root that begins the path).
    const TNvVolume volume = VolumeOf(m_volumes, target);
    QTreeWidgetItem* node = nullptr;
    for (int i = 0; i < Root()->childCount() && !node; ++i)
        if (PathOf(Root()->child(i)) == volume.root) node = Root()->child(i);
    if (volume.root.isEmpty() || !node) return;
    setCurrentItem(node);
    expandItem(node);
    for (const QString& name : target.mid(volume.root.size()).split('/', Qt::SkipEmptyParts)) {
        node = Child(node, name);
        if (!node) return;  // the folder went away: the walk ends without a report
        setCurrentItem(node);
        expandItem(node);
    }
    scrollToItem(node);
    m_selectedPath = target;
    emit OnDirChange(m_selectedPath);
}

void TNvDirTree21::mousePressEvent(QMouseEvent* event) {
    QTreeWidget::mousePressEvent(event);
    QTreeWidgetItem* item = itemAt(event->position().toPoint());
    // A press on the label or the icon, not on the expand button.
    if (event->button() == Qt::LeftButton && item &&
        visualItemRect(item).contains(event->position().toPoint()) && item == currentItem())
        SelectNode(item);
}

void TNvDirTree21::mouseReleaseEvent(QMouseEvent* event) {
    QTreeWidget::mouseReleaseEvent(event);
    emit MouseUp(event->button());
}

void TNvDirTree21::keyReleaseEvent(QKeyEvent* event) {
    QTreeWidget::keyReleaseEvent(event);
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_Left:
        case Qt::Key_Right:
            SelectNode(currentItem());
            break;
        case Qt::Key_F5: {
            const QString selected = m_selectedPath;
            Reload();
            OpenPath(selected);
            break;
        }
        default:
            break;
    }
    emit KeyUp(event->key());
}

void TNvDirTree21::renamed(QTreeWidgetItem* item, int column) {
    if (m_renaming || column != 0 || Level(item) < 2) return;
    const QString old = item->data(0, kNameRole).toString();
    const QString name = item->text(0);
    if (name == old) return;
    const auto revert = [&] {
        m_renaming = true;
        item->setText(0, old);
        m_renaming = false;
    };
    if (InvalidFolderName(name.toStdString())) {
        QApplication::beep();
        m_shell.error(this, kInvalidFolderNameText);
        revert();
        return;
    }
    if (!m_shell.confirm(this, "Rename the folder \"" + old + "\" to \"" + name + "\"?")) {
        revert();
        return;
    }
    const QString from = PathOf(item);
    const QString to = WithSlash(PathOf(item->parent())) + name;
    if (!RenameNoReplace(QFile::encodeName(from).toStdString(), QFile::encodeName(to).toStdString())) {
        m_shell.error(this,
                      "Could not rename " + from + (QFileInfo::exists(to) ? ": the name exists" : QString()));
        revert();
        return;
    }
    m_renaming = true;
    item->setData(0, kPathRole, to);
    item->setData(0, kNameRole, name);
    qDeleteAll(item->takeChildren());  // their paths changed: read again when expanded
    item->setData(0, kLoadedRole, false);
    item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
    m_renaming = false;
    setCurrentItem(item->parent());
    SelectNode(item->parent());
}

}  // namespace brenwick
