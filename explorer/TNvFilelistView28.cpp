#include "explorer/TNvFilelistView28.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QSet>
#include <QSettings>
#include <QStorageInfo>
#include <QVBoxLayout>

#include <sys/stat.h>

#include "explorer/NvFileScan.h"
#include "explorer/TNvDirTree21.h"

namespace brenwick {

namespace {

const QString kDrives = "Drives";

}  // namespace

QString DateTimePattern(TDtFormat date, TTmFormat time) {
    static const char* const kDates[] = {"MM/dd/yyyy", "MM/dd/yy", "dd/MM/yyyy", "dd/MM/yy",
                                         "dd.MM.yy",   "dd-MM-yy", "yyyy-MM-dd", "yy-MM-dd"};
    const QLocale locale;
    const QString d = date == TDtFormat::df_Customize ? locale.dateFormat(QLocale::ShortFormat)
                                                      : QString(kDates[int(date)]);
    QString t;
    switch (time) {
        case TTmFormat::tfLongFormat:
            t = locale.timeFormat(QLocale::LongFormat);
            break;
        case TTmFormat::tfShortFormat:
            t = locale.timeFormat(QLocale::ShortFormat);
            break;
        case TTmFormat::tfCustomize: {
            const QString f = locale.timeFormat(QLocale::ShortFormat);
            t = f.left(f.indexOf('t') < 0 ? f.size() : f.indexOf('t')).trimmed() + " AP";
            break;
        }
    }
    return d + ' ' + t;
}

TNvFilelistView28::TNvFilelistView28(QWidget* parent, TNvShell shell)
    : QWidget(parent), m_shell(std::move(shell)), m_model(new TNvFileModel(this)) {
    m_report = new QTreeView;
    m_report->setModel(m_model);
    m_report->setRootIsDecorated(false);
    m_report->setItemsExpandable(false);
    m_report->setUniformRowHeights(true);
    m_report->setAllColumnsShowFocus(true);
    m_report->header()->setSectionsClickable(true);
    m_report->header()->setSortIndicatorShown(true);
    m_report->header()->setStretchLastSection(false);
    m_icons = new QListView;
    m_icons->setModel(m_model);
    m_icons->setSelectionModel(m_report->selectionModel());
    m_icons->setResizeMode(QListView::Adjust);
    m_icons->setUniformItemSizes(true);
    for (QAbstractItemView* view :
         {static_cast<QAbstractItemView*>(m_report), static_cast<QAbstractItemView*>(m_icons)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->installEventFilter(this);
        view->viewport()->installEventFilter(this);
        connect(view, &QAbstractItemView::clicked, this, &TNvFilelistView28::itemClicked);
        connect(view, &QAbstractItemView::doubleClicked, this, [this] {
            if (DblClickToOpen) OpenItem();
        });
    }
    connect(m_report->header(), &QHeaderView::sectionClicked, this, &TNvFilelistView28::ColumnClick);
    m_model->onRename = [this](int row, const QString& name) { return renameEntry(row, name); };
    m_stack = new QStackedWidget;
    m_stack->addWidget(m_report);
    m_stack->addWidget(m_icons);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_stack);
    SetDateTimeFormat(TDtFormat::df_Customize, TTmFormat::tfShortFormat);
    SetColumnWidths(165, 75, 95, 125, 40);
    UpdateFileList();
}

void TNvFilelistView28::SetDateTimeFormat(TDtFormat date, TTmFormat time) {
    m_model->SetTimePattern(DateTimePattern(date, time));
}

void TNvFilelistView28::SetColumnWidths(int name, int size, int type, int modified, int attributes) {
    const QList<int> widths{name, size, type, modified, attributes};
    m_model->SetColumnWidths(widths);
    if (!m_model->DriveView())
        for (int i = 0; i < 5; ++i) m_report->header()->resizeSection(i, widths[i]);
}

void TNvFilelistView28::SetReadOnly(bool readOnly) {
    m_readOnly = readOnly;
    m_model->SetReadOnly(readOnly);
}

void TNvFilelistView28::SetViewStyle(TNvViewStyle style) {
    m_style = style;
    if (style == TNvViewStyle::vsReport) {
        m_stack->setCurrentWidget(m_report);
        return;
    }
    const bool large = style == TNvViewStyle::vsIcon;
    m_icons->setViewMode(large ? QListView::IconMode : QListView::ListMode);
    m_icons->setFlow(style == TNvViewStyle::vsList ? QListView::TopToBottom : QListView::LeftToRight);
    m_icons->setWrapping(true);
    m_icons->setIconSize(large ? QSize(32, 32) : QSize(16, 16));
    m_icons->setGridSize(large ? QSize(80, 64) : QSize());
    m_stack->setCurrentWidget(m_icons);
}

QAbstractItemView* TNvFilelistView28::CurrentView() const {
    return m_style == TNvViewStyle::vsReport ? static_cast<QAbstractItemView*>(m_report) : m_icons;
}

void TNvFilelistView28::SetDirTree(TNvDirTree21* tree) {
    if (m_tree == tree) return;
    m_tree = tree;
    if (tree) tree->SetFileList(this);
}

void TNvFilelistView28::SetDirectory(const QString& value) {
    if (value == m_directory) return;
    if (value.compare(kDrives, Qt::CaseInsensitive) == 0) {
        m_directory = kDrives;
    } else {
        if (!value.startsWith('/') || !QFileInfo(value).isDir()) return;  // only an existing folder
        m_directory = WithSlash(QDir::cleanPath(value));
    }
    UpdateFileList();
}

void TNvFilelistView28::UpdateFileList() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_directory == kDrives)
        showDrives();
    else
        showFolder();
    QApplication::restoreOverrideCursor();
    if (ItemCount() > 0 && !AnySelected())
        m_report->selectionModel()->setCurrentIndex(m_model->index(0, 0), QItemSelectionModel::NoUpdate);
}

void TNvFilelistView28::showDrives() {
    m_model->SetDrives(MountedVolumes());
    m_report->header()->setSortIndicator(-1, Qt::AscendingOrder);
    static const int kWidths[] = {160, 110, 90, 90, 40};
    for (int i = 0; i < 5; ++i) m_report->header()->resizeSection(i, kWidths[i]);
}

void TNvFilelistView28::showFolder() {
    std::vector<TNvScanEntry> entries;
    const bool read =
        ScanFolder(m_directory.toStdString(), SplitMask(Mask.toStdString()), FileType, ShowFolders,
                   entries);  // a folder that cannot be read shows no entries at all
    std::vector<TNvItem> items = FolderItems(m_directory, entries);
    if (HideFileExt)
        for (TNvItem& item : items)
            if (item.kind == TNvKind::File && item.caption.lastIndexOf('.') > 0)
                item.caption.truncate(item.caption.lastIndexOf('.'));
    if (read && ParentDirEnabled && m_directory != "/") {
        TNvItem parent;
        parent.caption = ParentDirCaption;
        parent.path = m_directory + "..";
        parent.kind = TNvKind::Folder;
        parent.key.parent = parent.key.dir = true;
        items.insert(items.begin(), std::move(parent));
    }
    const bool wasDrives = m_model->DriveView();
    // Each new listing is sorted by Name: ascending when Name was the sort column, else starting reversed.
    m_reversed = m_sortColumn != TNvSortColumn::Name;
    m_sortColumn = TNvSortColumn::Name;
    m_model->SetSortedEntries(std::move(items), m_sortColumn, m_reversed);
    m_report->header()->setSortIndicator(int(m_sortColumn),
                                         m_reversed ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (wasDrives)
        for (int i = 0; i < 5; ++i)
            m_report->header()->resizeSection(
                i, m_model->headerData(i, Qt::Horizontal, Qt::SizeHintRole).toSize().width());
}

void TNvFilelistView28::ColumnClick(int column) {
    if (m_model->DriveView() || column < 0 || column > 4) return;
    const auto c = TNvSortColumn(column);
    m_reversed = c == m_sortColumn ? !m_reversed : true;
    m_sortColumn = c;
    applySort();
}

void TNvFilelistView28::applySort() {
    const QStringList selected = selectedPaths();
    const QModelIndex current = m_report->selectionModel()->currentIndex();
    const QString currentPath = current.isValid() ? m_model->Item(current.row()).path : QString();
    m_model->Sort(m_sortColumn, m_reversed);
    m_report->header()->setSortIndicator(int(m_sortColumn),
                                         m_reversed ? Qt::DescendingOrder : Qt::AscendingOrder);
    if (selected.isEmpty() && currentPath.isEmpty()) return;
    // The selection and the current entry follow their entries to their new rows.
    const QSet<QString> wanted(selected.begin(), selected.end());
    QItemSelection selection;
    int run = -1;  // first row of the run of selected rows being gathered
    for (int r = 0; r <= ItemCount(); ++r) {
        const bool in = r < ItemCount() && wanted.contains(m_model->Item(r).path);
        if (in && run < 0) run = r;
        if (!in && run >= 0) {
            selection.select(m_model->index(run, 0), m_model->index(r - 1, 4));
            run = -1;
        }
        if (r < ItemCount() && m_model->Item(r).path == currentPath)
            m_report->selectionModel()->setCurrentIndex(m_model->index(r, 0), QItemSelectionModel::NoUpdate);
    }
    m_report->selectionModel()->select(selection, QItemSelectionModel::Select);
}

bool TNvFilelistView28::IsSelected(int row) const {
    return m_report->selectionModel()->isRowSelected(row, {});
}

void TNvFilelistView28::SelectItem(int row) {
    if (row < 0 || row >= ItemCount()) return;
    m_report->selectionModel()->select(m_model->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TNvFilelistView28::SelectAll() {
    if (ItemCount() == 0) return;
    m_report->selectionModel()->select(
        QItemSelection(m_model->index(0, 0), m_model->index(ItemCount() - 1, 4)),
        QItemSelectionModel::Select);
}

bool TNvFilelistView28::AnySelected() const {
    return m_report->selectionModel()->hasSelection();
}

QList<int> TNvFilelistView28::SelectedRows() const {
    QList<int> rows;
    for (const QModelIndex& index : m_report->selectionModel()->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int TNvFilelistView28::SelectedNumber() const {
    const int n = int(m_report->selectionModel()->selectedRows().size());
    return n > 0 ? n : ItemCount();
}

qint64 TNvFilelistView28::SelectedSize() const {
    qint64 sum = 0;
    for (int row : SelectedRows()) {
        const TNvItem& item = m_model->Item(row);
        if (item.kind != TNvKind::File) continue;
        struct stat st {};  // the size now, not when the list was read
        if (::stat(QFile::encodeName(item.path).constData(), &st) == 0 && S_ISREG(st.st_mode))
            sum += st.st_size;
    }
    return sum;
}

qint64 TNvFilelistView28::DriveFreeSpace() const {
    if (m_model->DriveView()) return 0;
    const QStorageInfo s(m_directory);
    return s.isValid() && s.isReady() ? s.bytesAvailable() / 1024 : 0;
}

int TNvFilelistView28::ParentImgIdx() const {
    // The control's own icons: folder, file, drive, parent.
    constexpr int kParentIcon = 3, kIcons = 4;
    QSettings settings("Vashten", "NvFileExplorer");
    bool ok = false;
    const int stored = settings.value("ParentImgIdx").toInt(&ok);
    if (!ok || stored < 0 || stored >= kIcons || stored != kParentIcon)
        settings.setValue("ParentImgIdx", kParentIcon);
    return kParentIcon;
}

QStringList TNvFilelistView28::selectedPaths() const {
    QStringList paths;
    for (int row : SelectedRows())
        if (!m_model->Item(row).key.parent && m_model->Item(row).kind != TNvKind::Drive)
            paths << m_model->Item(row).path;
    return paths;
}

void TNvFilelistView28::selectPath(const QString& path) {
    for (int r = 0; r < ItemCount(); ++r)
        if (m_model->Item(r).path == path) {
            m_report->selectionModel()->setCurrentIndex(
                m_model->index(r, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            CurrentView()->scrollTo(m_model->index(r, 0));
            return;
        }
}

void TNvFilelistView28::itemClicked(const QModelIndex& index) {
    if (!index.isValid()) return;
    m_selectedItem = m_model->Item(index.row()).path;
    emit OnItemChange(m_selectedItem);
}

void TNvFilelistView28::OneLevelUp() {
    if (m_model->DriveView()) return;
    const QString was = m_directory;
    if (VolumeOf(MountedVolumes(), was).root == was) {  // up from a drive: the drives, that drive selected
        SetDirectory(kDrives);
        selectPath(was);
        return;
    }
    // The parent, or the nearest folder above that still exists (the one shown may have gone).
    QString parent = WithSlash(QFileInfo(was.chopped(1)).path());
    while (parent != "/" && !QFileInfo(parent).isDir())
        parent = WithSlash(QFileInfo(parent.chopped(1)).path());
    SetDirectory(parent);
    if (m_tree) m_tree->OpenPath(parent);
    selectPath(parent + was.mid(parent.size()).section('/', 0, 0));
}

void TNvFilelistView28::OpenItem() {
    QModelIndex index = m_report->selectionModel()->currentIndex();
    if (!index.isValid() || !IsSelected(index.row())) {
        const QList<int> rows = SelectedRows();
        if (rows.isEmpty()) return;
        index = m_model->index(rows.first(), 0);
    }
    const TNvItem& item = m_model->Item(index.row());
    if (item.key.parent) {
        OneLevelUp();
        return;
    }
    if (item.kind == TNvKind::File) {
        openFile(item.path);
        return;
    }
    if (item.kind == TNvKind::Drive && item.removable &&
        !DiskPresent(TNvVolume{item.path, {}, {}, false, true})) {
        QApplication::beep();
        m_shell.warn(this, kNoDiskText);
        return;
    }
    const QString path = WithSlash(item.path);
    SetDirectory(path);
    if (m_tree) m_tree->OpenPath(path);
}

void TNvFilelistView28::openFile(const QString& path) {
    if (!m_shell.open(path)) m_shell.error(this, "ERROR - Can't Open file " + QFileInfo(path).fileName());
}

void TNvFilelistView28::ShowProperties() {
    const QList<int> rows = SelectedRows();
    if (rows.isEmpty()) return;
    const QString path = m_model->Item(rows.first()).path;
    if (!QFileInfo::exists(path)) {
        m_shell.error(this, QFileInfo::exists(QFileInfo(path).path()) ? "The specified file was not found."
                                                                      : "The specified path was not found.");
        return;
    }
    m_shell.properties(this, path);
}

}  // namespace brenwick
