// The rows of the file list: the drives of the drive view or the entries of one folder, each with its
// caption and seven sub-items. Texts that cost (type names, dates, icons) are made when a row is shown.
#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QIcon>
#include <QList>
#include <functional>
#include <vector>

#include "explorer/NvListLogic.h"
#include "explorer/NvVolumes.h"

namespace brenwick {

enum class TNvKind { Drive, Folder, File };

struct TNvItem {
    QString caption;
    QString path;  // sub-item 4
    TNvKind kind = TNvKind::File;
    std::int64_t size = 0;
    std::uint32_t attr = 0;
    std::int64_t mtimeNs = 0;
    TNvSortKey key;
    QString texts[4];  // a drive's sub-items 0 to 3; a folder entry's type name once known (texts[1])
    bool removable = false;
};

class TNvFileModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    explicit TNvFileModel(QObject* parent = nullptr);

    // The drive view's rows (unsorted) or a folder's rows (still to be sorted).
    void SetDrives(const QList<TNvVolume>& volumes);
    void SetEntries(std::vector<TNvItem> items, bool driveView);
    // A folder's rows, sorted before they are shown (one reset of the views).
    void SetSortedEntries(std::vector<TNvItem> items, TNvSortColumn column, bool reversed);
    bool DriveView() const { return m_driveView; }
    // Sorts the rows by `column`, folders first; `reversed` negates the order (the parent entry stays first).
    void Sort(TNvSortColumn column, bool reversed);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;

    const TNvItem& Item(int row) const { return m_items[std::size_t(row)]; }
    // Sub-item `k` (0 to 6) of a row, as the list shows and sorts it.
    QString SubItem(int row, int k) const;
    QString TypeName(const TNvItem& item) const;
    void SetTimePattern(const QString& pattern) { m_timePattern = pattern; }
    void SetReadOnly(bool readOnly) { m_readOnly = readOnly; }
    void SetColumnWidths(const QList<int>& widths) { m_widths = widths; }
    // A renamed entry: the new name wins on disk only when no entry of that name exists.
    std::function<bool(int row, const QString& name)> onRename;

  private:
    QIcon IconOf(const TNvItem& item) const;
    void sortItems(std::vector<TNvItem>& items, TNvSortColumn column, bool reversed) const;

    std::vector<TNvItem> m_items;
    bool m_driveView = true;
    bool m_readOnly = true;
    QString m_timePattern;
    QList<int> m_widths;
    mutable QHash<QString, QString> m_typeNames;  // by extension
    mutable QHash<QString, QIcon> m_icons;        // by extension
};

// A scanned folder's rows, with their sort keys; `folder` has its trailing "/".
std::vector<TNvItem> FolderItems(const QString& folder, const std::vector<struct TNvScanEntry>& entries);

}  // namespace brenwick
