#include "explorer/NvFileModel.h"

#include <QDateTime>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QMimeDatabase>
#include <algorithm>

#include "explorer/NvFileScan.h"

namespace brenwick {

namespace {

const QStringList kFolderColumns = {"Name", "Size", "Type", "Modified", "Attributes"};
const QStringList kDriveColumns = {"Name", "Type", "Disk Size", "Free Space", "Attributes"};
const QList<int> kDriveWidths = {160, 110, 90, 90, 40};

// The key under which a name's type and icon are kept: its extension, or the whole name without one.
QString ExtensionKey(const QString& name) {
    const int dot = name.indexOf('.', 1);
    return dot < 0 ? name : name.mid(dot);
}

// A drive's size text: "0 Mb" when it was not measured.
QString MbText(std::uint64_t kilobytes) {
    return kilobytes ? QString::fromStdString(DriveMbText(kilobytes)) : QString("0 Mb");
}

}  // namespace

std::vector<TNvItem> FolderItems(const QString& folder, const std::vector<TNvScanEntry>& entries) {
    std::vector<TNvItem> items;
    items.reserve(entries.size());
    for (const TNvScanEntry& e : entries) {
        TNvItem item;
        item.caption = QString::fromStdString(e.name);
        item.path = folder + item.caption;
        item.kind = (e.attr & kAttrDirectory) ? TNvKind::Folder : TNvKind::File;
        item.size = e.size;
        item.attr = e.attr;
        item.mtimeNs = e.mtimeNs;
        item.key.dir = item.kind == TNvKind::Folder;
        item.key.upperName = item.caption.toUpper().toStdString();
        item.key.sizeKb = item.key.dir ? 0 : SizeTextNumber(SizeText(e.size));
        item.key.attr = AttrText(e.attr);
        item.key.time = e.mtimeNs;
        items.push_back(std::move(item));
    }
    return items;
}

TNvFileModel::TNvFileModel(QObject* parent) : QAbstractTableModel(parent) {}

void TNvFileModel::SetDrives(const QList<TNvVolume>& volumes) {
    std::vector<TNvItem> items;
    for (const TNvVolume& v : volumes) {
        TNvItem item;
        item.caption = v.caption;
        item.path = v.root;
        item.kind = TNvKind::Drive;
        item.removable = v.removable;
        item.texts[0] = v.typeText;
        item.texts[1] = MbText(v.totalKb);
        item.texts[2] = MbText(v.freeKb);
        items.push_back(std::move(item));
    }
    SetEntries(std::move(items), true);
}

void TNvFileModel::SetEntries(std::vector<TNvItem> items, bool driveView) {
    beginResetModel();
    m_items = std::move(items);
    m_driveView = driveView;
    endResetModel();
    emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

void TNvFileModel::sortItems(std::vector<TNvItem>& items, TNvSortColumn column, bool reversed) const {
    if (column == TNvSortColumn::Type)
        for (TNvItem& item : items)
            if (item.key.type.empty()) item.key.type = TypeName(item).toStdString();
    // The keys are sorted side by side in one block (short names stay inside their strings), which keeps
    // the comparisons in the cache; the rows follow in one pass.
    std::vector<std::pair<TNvSortKey, std::size_t>> keys;
    keys.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) keys.emplace_back(std::move(items[i].key), i);
    std::stable_sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
        return CompareEntries(a.first, b.first, column, reversed) < 0;
    });
    std::vector<TNvItem> sorted;
    sorted.reserve(items.size());
    for (auto& [key, i] : keys) {
        items[i].key = std::move(key);
        sorted.push_back(std::move(items[i]));
    }
    items = std::move(sorted);
}

void TNvFileModel::SetSortedEntries(std::vector<TNvItem> items, TNvSortColumn column, bool reversed) {
    sortItems(items, column, reversed);
    SetEntries(std::move(items), false);
}

void TNvFileModel::Sort(TNvSortColumn column, bool reversed) {
    beginResetModel();
    sortItems(m_items, column, reversed);
    endResetModel();
}

int TNvFileModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_items.size());
}

int TNvFileModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 5;
}

QString TNvFileModel::TypeName(const TNvItem& item) const {
    if (item.kind == TNvKind::Drive) return item.texts[0];
    const QString key = item.kind == TNvKind::Folder ? QStringLiteral("/") : ExtensionKey(item.caption);
    auto found = m_typeNames.constFind(key);
    if (found != m_typeNames.constEnd()) return *found;
    // By the name alone: finding the type from a file's content would read every file.
    static const QMimeDatabase db;
    const QMimeType mime = item.kind == TNvKind::Folder
                               ? db.mimeTypeForName("inode/directory")
                               : db.mimeTypeForFile(item.caption, QMimeDatabase::MatchExtension);
    QString comment = mime.comment();
    if (!comment.isEmpty()) comment[0] = comment[0].toUpper();
    return m_typeNames.insert(key, comment).value();
}

QString TNvFileModel::SubItem(int row, int k) const {
    const TNvItem& item = m_items[std::size_t(row)];
    if (item.kind == TNvKind::Drive) {
        if (k <= 3) return item.texts[k];
        return k == 4 ? item.path : (k == 5 ? QStringLiteral("drv") : QString());
    }
    const bool dir = item.kind == TNvKind::Folder;
    switch (k) {
        case 0:
            return dir ? QStringLiteral(" ") : QString::fromStdString(SizeText(item.size));
        case 1:
            return TypeName(item);
        case 2:
            return QDateTime::fromMSecsSinceEpoch(item.mtimeNs / 1000000).toString(m_timePattern);
        case 3:
            return QString::fromStdString(AttrText(item.attr));
        case 4:
            return item.path;
        case 5:
            return dir ? QStringLiteral("dir") : QStringLiteral("file");
        case 6:
            return QString::number(item.mtimeNs);
        default:
            return {};
    }
}

QIcon TNvFileModel::IconOf(const TNvItem& item) const {
    static const QFileIconProvider provider;
    if (item.key.parent) return provider.icon(QAbstractFileIconProvider::Folder);
    if (item.kind == TNvKind::Drive) return provider.icon(QAbstractFileIconProvider::Drive);
    const QString key = item.kind == TNvKind::Folder ? QStringLiteral("/") : ExtensionKey(item.caption);
    auto found = m_icons.constFind(key);
    if (found != m_icons.constEnd()) return *found;
    QIcon icon;
    if (item.kind == TNvKind::Folder) {
        icon = provider.icon(QAbstractFileIconProvider::Folder);
    } else {
        static const QMimeDatabase db;
        const QMimeType mime = db.mimeTypeForFile(item.caption, QMimeDatabase::MatchExtension);
        icon = QIcon::fromTheme(mime.iconName(), QIcon::fromTheme(mime.genericIconName()));
        if (icon.isNull()) icon = provider.icon(QAbstractFileIconProvider::File);
    }
    return m_icons.insert(key, icon).value();
}

QVariant TNvFileModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TNvItem& item = m_items[std::size_t(index.row())];
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return index.column() == 0 ? item.caption : SubItem(index.row(), index.column() - 1);
    if (role == Qt::DecorationRole && index.column() == 0) return IconOf(item);
    if (role == Qt::TextAlignmentRole) {
        const bool right = m_driveView ? (index.column() == 2 || index.column() == 3) : index.column() == 1;
        return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    if (role == Qt::UserRole) return item.path;
    return {};
}

QVariant TNvFileModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section > 4) return {};
    if (role == Qt::DisplayRole) return (m_driveView ? kDriveColumns : kFolderColumns)[section];
    if (role == Qt::SizeHintRole) {
        const QList<int>& widths = m_driveView ? kDriveWidths : m_widths;
        if (section < widths.size()) return QSize(widths[section], 20);
    }
    if (role == Qt::TextAlignmentRole) {
        const bool right = m_driveView ? (section == 2 || section == 3) : section == 1;
        return QVariant::fromValue(Qt::AlignVCenter | (right ? Qt::AlignRight : Qt::AlignLeft));
    }
    return {};
}

Qt::ItemFlags TNvFileModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == 0 && !m_readOnly && !m_driveView &&
        !m_items[std::size_t(index.row())].key.parent)
        f |= Qt::ItemIsEditable;
    return f;
}

bool TNvFileModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (role != Qt::EditRole || !index.isValid() || !onRename) return false;
    const QString name = value.toString();
    if (name == m_items[std::size_t(index.row())].caption) return false;
    return onRename(index.row(), name);
}

}  // namespace brenwick
