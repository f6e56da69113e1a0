// TForm2: the add-files window. A folder tree and a file list side by side, a tool bar, a hint line and a
// status bar with the counts, the selection's size and the drive's free space. Add appends the selected
// entries to the main window's Archives list. It is a top-level window of its own and is only hidden when
// closed, so its folder and selection survive between uses.
#pragma once

#include <QButtonGroup>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>

#include "explorer/TNvDirTree21.h"
#include "explorer/TNvFilelistView28.h"
#include "widgets/EnStatusBar.h"

namespace brenwick {

class TForm2 : public QWidget {
    Q_OBJECT

  public:
    // `archives` is the main window's Archives list, which Add appends to.
    explicit TForm2(QListWidget* archives, TNvShell shell = StandardShell());

    // ---- controls (the window's field names) ----
    QToolBar* ToolBar1;
    QToolButton *BtnViewLarge, *BtnViewSmall, *BtnViewList, *BtnViewDetails, *BtnShowFolderTree,
        *BtnProperties, *BtnSelectAll, *BtnRefresh, *BtnUp, *BtnAdd;
    QWidget* Panel1;
    QLabel* Label1;
    QSplitter* Splitter1;
    TNvDirTree21* NvDirTree211;
    TNvFilelistView28* NvFilelistView281;
    TEnStatusBar* StatusBar1;

    // ---- handlers ----
    void FormCreate();
    void BtnViewLargeClick();
    void BtnViewSmallClick();
    void BtnViewListClick();
    void BtnViewDetailsClick();
    void BtnShowFolderTreeClick();
    void BtnPropertiesClick();
    void BtnSelectAllClick();
    void BtnRefreshClick();
    void BtnUpClick();
    void BtnAddClick();
    // The two status panels: the counts, the selection's size and the drive's free space.
    void GetStatistics();
    // What the main window's New and Open do: the tree opens `path` (an empty or missing folder leaves it
    // where it is), the list shows the tree's folder and the statistics follow.
    void ShowFolder(const QString& path);

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    QToolButton* addButton(const QString& hint, int icon, bool checkable);
    void buildToolBar();
    void wireHandlers();
    void keyUp(int key);

    QListWidget* m_archives;
    QButtonGroup* m_viewGroup;
};

}  // namespace brenwick
