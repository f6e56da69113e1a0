// TNvFilelistView28: the file list. It shows the drives of the computer or the entries of one folder, sorted
// with folders first, in four view styles, and gives its window each entry's full path, the count and the
// size of the selection and the free space of the drive. It is linked both ways with the folder tree.
#pragma once

#include <QListView>
#include <QStackedWidget>
#include <QTreeView>
#include <QWidget>

#include "explorer/NvFileModel.h"
#include "explorer/NvShell.h"

namespace brenwick {

class TNvDirTree21;

enum class TNvViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };
enum TNvFileType : unsigned { ftReadOnly = 1, ftHidden = 2, ftSystem = 4, ftArchive = 0x20, ftNormal = 0x80 };
enum class TDtFormat {
    df_MMddyyyy,
    df_MMddyy,
    df_ddMMyyyy,
    df_ddMMyy_GB,
    df_ddMMyy_DE,
    df_ddMMyy_IT,
    df_yyyyMMdd,
    df_yyMMdd,
    df_Customize
};
enum class TTmFormat { tfLongFormat, tfShortFormat, tfCustomize };

// The date and time pattern of the Modified column.
QString DateTimePattern(TDtFormat date, TTmFormat time);

class TNvFilelistView28 : public QWidget {
    Q_OBJECT

  public:
    explicit TNvFilelistView28(QWidget* parent = nullptr, TNvShell shell = StandardShell());

    // ---- published properties ----
    QString Directory() const { return m_directory; }
    // "Drives" (any case) shows the drives; otherwise only an existing folder is taken, with a trailing "/".
    void SetDirectory(const QString& value);
    QString Mask = "*.*";
    unsigned FileType = ftReadOnly | ftHidden | ftSystem | ftArchive;
    bool ShowFolders = true;
    bool HideFileExt = false;
    bool ParentDirEnabled = true;
    QString ParentDirCaption = " Parent";
    bool DblClickToOpen = true;
    bool PopUpMenuEnabled = true;
    void SetDateTimeFormat(TDtFormat date, TTmFormat time);
    void SetColumnWidths(int name, int size, int type, int modified, int attributes);
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return m_readOnly; }
    void SetViewStyle(TNvViewStyle style);
    TNvViewStyle ViewStyle() const { return m_style; }
    void SetDirTree(TNvDirTree21* tree);
    TNvDirTree21* DirTree() const { return m_tree; }
    QString SelectedItem() const { return m_selectedItem; }

    // ---- operations ----
    void UpdateFileList();
    void OneLevelUp();
    void OpenItem();
    void ShowProperties();
    void SelectAll();
    // Sorting as a click on the column's header does it.
    void ColumnClick(int column);
    TNvSortColumn SortColumn() const { return m_sortColumn; }
    bool SortReversed() const { return m_reversed; }

    // ---- the entries ----
    int ItemCount() const { return m_model->rowCount(); }
    QString Caption(int row) const {
        return row >= 0 && row < ItemCount() ? m_model->Item(row).caption : QString();
    }
    QString SubItem(int row, int k) const {
        return row >= 0 && row < ItemCount() ? m_model->SubItem(row, k) : QString();
    }
    bool IsSelected(int row) const;
    void SelectItem(int row);  // adds it to the selection
    bool AnySelected() const;
    QList<int> SelectedRows() const;  // first to last
    int SelectedNumber() const;       // all entries when none is selected
    qint64 SelectedSize() const;      // bytes of the selected files (64-bit)
    qint64 DriveFreeSpace() const;    // KB free on the drive of Directory; 0 in the drive view
    int ParentImgIdx() const;         // the parent icon's index, kept in the user's settings

    QTreeView* ReportView() const { return m_report; }
    QListView* IconView() const { return m_icons; }
    QAbstractItemView* CurrentView() const;
    TNvFileModel* Model() const { return m_model; }

  signals:
    void OnItemChange(const QString& selectedItem);
    void KeyUp(int key);
    void MouseUp(Qt::MouseButton button);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void showDrives();
    void showFolder();
    void applySort();
    void selectPath(const QString& path);
    void itemClicked(const QModelIndex& index);
    bool keyPress(QKeyEvent* key);
    QStringList selectedPaths() const;
    void deleteSelection();
    void paste();
    void newFolder();
    bool renameEntry(int row, const QString& name);
    void openFile(const QString& path);

    TNvShell m_shell;
    TNvFileModel* m_model;
    QStackedWidget* m_stack;
    QTreeView* m_report;
    QListView* m_icons;
    TNvDirTree21* m_tree = nullptr;
    QString m_directory = "Drives";
    QString m_selectedItem;
    TNvViewStyle m_style = TNvViewStyle::vsReport;
    TNvSortColumn m_sortColumn = TNvSortColumn::Name;
    bool m_reversed = false;
    bool m_readOnly = false;
    QStringList m_clipboard;
    bool m_clipboardMove = false;
};

}  // namespace brenwick
