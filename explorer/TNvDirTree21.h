// TNvDirTree21: the folder tree. Its root is the computer, below it one node per drive (a mounted volume)
// and, loaded as the user expands them, the folders. Each node keeps its path as item data. Selecting a
// node reports its path (OnDirChange) and shows the folder in the linked file list.
#pragma once

#include <QTreeWidget>

#include "explorer/NvShell.h"
#include "explorer/NvVolumes.h"

namespace brenwick {

class TNvFilelistView28;

class TNvDirTree21 : public QTreeWidget {
    Q_OBJECT

  public:
    explicit TNvDirTree21(QWidget* parent = nullptr, TNvShell shell = StandardShell());

    QString SelectedPath() const { return m_selectedPath; }
    bool PopUpMenuEnabled = true;
    bool ReadOnly = false;
    void SetFileList(TNvFilelistView28* list);
    TNvFilelistView28* FileList() const { return m_list; }

    // Clears the tree and builds the root and one node per drive; the root is expanded.
    void Reload();
    // Selects and expands the nodes along an existing folder path and reports it; nothing for an empty or
    // relative path or a folder that does not exist.
    void OpenPath(const QString& path);
    // What a press on `item` or an arrow key onto it does: report its path and show it in the file list.
    void SelectNode(QTreeWidgetItem* item);

    QTreeWidgetItem* Root() const { return topLevelItem(0); }
    // The node's path: "Drives" for the root, a drive's root with its "/", a folder's path without it.
    static QString PathOf(const QTreeWidgetItem* item);
    // The node's child whose path component is `name` (exactly), loading the children first.
    QTreeWidgetItem* Child(QTreeWidgetItem* node, const QString& name);

  signals:
    void OnDirChange(const QString& selectedPath);
    void KeyUp(int key);
    void MouseUp(Qt::MouseButton button);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

  private:
    void buildDrives();
    void loadChildren(QTreeWidgetItem* node);
    void renamed(QTreeWidgetItem* item, int column);

    TNvShell m_shell;
    TNvFilelistView28* m_list = nullptr;
    QString m_selectedPath;
    QList<TNvVolume> m_volumes;
    bool m_renaming = false;
};

}  // namespace brenwick
