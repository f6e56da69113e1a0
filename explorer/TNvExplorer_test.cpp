// The folder tree and the file list on real temporary folders: the listing, its texts and filters, the
// sort orders, going up and opening, the tree's walk to a path, renaming, what goes away while it is
// shown, the file operations, and (as root) a volume mounted and unmounted while the tree shows it.
#include <sys/mount.h>
#include <unistd.h>

#include <QHeaderView>
#include <QLineEdit>
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "explorer/NvFileScan.h"
#include "explorer/TNvDirTree21.h"
#include "explorer/TNvFilelistView28.h"

namespace fs = std::filesystem;

namespace brenwick {

class TNvExplorerTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        char pattern[] = "/tmp/brenwick-explorer-XXXXXX";
        QVERIFY(::mkdtemp(pattern) != nullptr);
        m_dir = QString(pattern) + '/';
        fs::create_directories((m_dir + "data").toStdString());
        qputenv("XDG_DATA_HOME", (m_dir + "data").toUtf8());  // the trash on the same volume
        qputenv("XDG_CONFIG_HOME", (m_dir + "config").toUtf8());
    }
    void init() {
        m_root = m_dir + "t/";
        fs::remove_all(m_root.toStdString());
        for (const char* d : {"sub/inner", "Beta", "empty"}) fs::create_directories(path(d));
        const std::pair<const char*, int> files[] = {{"zero", 0},       {"one.txt", 1},  {"k1024.c", 1024},
                                                     {"k1025.c", 1025}, {"k2048", 2048}, {".hidden", 5},
                                                     {"ro.txt", 3}};
        for (auto [name, size] : files) std::ofstream(path(name)) << std::string(std::size_t(size), 'x');
        fs::permissions(path("ro.txt"), fs::perms::owner_read);
        fs::create_directory_symlink(path("sub"), path("link"));
        m_messages.clear();
        m_confirm = true;
        m_tree = std::make_unique<TNvDirTree21>(nullptr, shell());
        m_list = std::make_unique<TNvFilelistView28>(nullptr, shell());
        m_tree->SetFileList(m_list.get());
    }
    void cleanup() {
        m_list.reset();
        m_tree.reset();
        if (fs::exists(path("ro.txt"))) fs::permissions(path("ro.txt"), fs::perms::owner_all);
    }
    void cleanupTestCase() {
        ::umount((m_dir + "mnt").toUtf8().constData());  // left mounted by a failed check
        std::error_code ec;
        fs::remove_all(m_dir.toStdString(), ec);
    }

    void listingTextsAndFilters();
    void sortOrders();
    void upOpenAndTheTreeWalk();
    void goneUnreadableAndRenamed();
    void fileOperations();
    void volumeMountedWhileShown();

  private:
    std::string path(const char* rel) const { return (m_root + rel).toStdString(); }
    TNvShell shell() {
        TNvShell s;
        s.warn = s.error = [this](QWidget*, const QString& text) { m_messages << text; };
        s.confirm = [this](QWidget*, const QString& text) {
            m_messages << text;
            return m_confirm;
        };
        s.open = [this](const QString& p) { return m_messages << "open " + p, true; };
        s.properties = [this](QWidget*, const QString& p) { m_messages << "properties " + p; };
        return s;
    }
    int row(const QString& caption) const {
        for (int r = 0; r < m_list->ItemCount(); ++r)
            if (m_list->Caption(r) == caption) return r;
        return -1;
    }
    QStringList captions() const {
        QStringList c;
        for (int r = 0; r < m_list->ItemCount(); ++r) c << m_list->Caption(r);
        return c;
    }
    void key(int k, Qt::KeyboardModifiers m = {}) { QTest::keyClick(m_list->ReportView(), Qt::Key(k), m); }

    QString m_dir, m_root;
    QStringList m_messages;
    bool m_confirm = true;
    std::unique_ptr<TNvDirTree21> m_tree;
    std::unique_ptr<TNvFilelistView28> m_list;
};

void TNvExplorerTest::listingTextsAndFilters() {
    QCOMPARE(m_list->Directory(), QString("Drives"));  // a new control shows the drives
    QVERIFY(m_list->ItemCount() > 0);
    QCOMPARE(m_list->SubItem(0, 5), QString("drv"));
    m_list->SetDirectory(m_root.chopped(1));
    QCOMPARE(m_list->Directory(), m_root);
    QCOMPARE(captions(), QStringList({" Parent", "Beta", "empty", "link", "sub", ".hidden", "k1024.c",
                                      "k1025.c", "k2048", "one.txt", "ro.txt", "zero"}));
    const std::pair<const char*, const char*> sizes[] = {{"zero", "0 KB"},    {"one.txt", "1 KB"},
                                                         {"k1024.c", "1 KB"}, {"k1025.c", "1 KB"},
                                                         {"k2048", "2 KB"},   {"sub", " "}};
    for (auto [name, text] : sizes) QCOMPARE(m_list->SubItem(row(name), 0), QString(text));
    QCOMPARE(m_list->SubItem(row("ro.txt"), 3), QString("AR"));
    QCOMPARE(m_list->SubItem(row(".hidden"), 3), QString("AH"));
    QCOMPARE(m_list->SubItem(row("link"), 5), QString("dir"));  // a link to a folder is a folder
    QCOMPARE(m_list->SubItem(row("k2048"), 4), m_root + "k2048");
    QCOMPARE(m_list->SubItem(row("k1024.c"), 1), QString("C source code"));
    QCOMPARE(m_list->SelectedNumber(), m_list->ItemCount());  // nothing selected: all entries
    m_list->SelectItem(row("k1025.c"));
    m_list->SelectItem(row("k2048"));
    m_list->SelectItem(row("sub"));
    QCOMPARE(m_list->SelectedNumber(), 3);
    QCOMPARE(m_list->SelectedSize(), qint64(1025 + 2048));

    m_list->FileType = 0;  // neither read-only, hidden nor system files
    m_list->ParentDirEnabled = false;
    m_list->Mask = "  k*.c ;  *.txt ";
    m_list->UpdateFileList();
    QCOMPARE(captions(), QStringList({"Beta", "empty", "link", "sub", "k1024.c", "k1025.c", "one.txt"}));
    // Before sorting: the first pattern's matches, then the second's.
    std::vector<TNvScanEntry> found;
    QVERIFY(ScanFolder(m_root.toStdString(), {"*.txt", "k*.c"}, 0x27, false, found));
    QStringList order;
    for (const TNvScanEntry& e : found) order << QString::fromStdString(e.name);
    QCOMPARE(order.size(), 4);
    QVERIFY(order[0].endsWith(".txt") && order[1].endsWith(".txt") && order[2].endsWith(".c"));
}

void TNvExplorerTest::sortOrders() {
    m_list->ParentDirEnabled = false;
    m_list->SetDirectory(m_root);
    QCOMPARE(captions().mid(0, 4), QStringList({"Beta", "empty", "link", "sub"}));  // Name, folders first
    m_list->SelectItem(row("k2048"));
    m_list->ColumnClick(1);  // another column starts reversed: files by size down, folders last
    QVERIFY(m_list->SortReversed());
    QCOMPARE(captions().mid(0, 2), QStringList({"k2048", ".hidden"}));
    QCOMPARE(captions().mid(7), QStringList({"Beta", "empty", "link", "sub"}));
    QVERIFY(m_list->IsSelected(row("k2048")));  // the selection survives the sort
    m_list->ColumnClick(1);                     // the same column again: ascending
    QCOMPARE(captions().mid(0, 1), QStringList({"Beta"}));
    QCOMPARE(m_list->SubItem(4, 0), QString("0 KB"));
    m_list->UpdateFileList();  // Name was not the sort column: the new listing starts reversed
    QCOMPARE(m_list->SortColumn(), TNvSortColumn::Name);
    QCOMPARE(captions().first(), QString("zero"));
    m_list->UpdateFileList();
    QCOMPARE(captions().first(), QString("Beta"));
    m_list->ColumnClick(3);
    QCOMPARE(m_list->ReportView()->header()->sortIndicatorOrder(), Qt::DescendingOrder);
}

void TNvExplorerTest::upOpenAndTheTreeWalk() {
    QSignalSpy changes(m_tree.get(), &TNvDirTree21::OnDirChange);
    for (const QString& nothing : {QString(), QString("a"), m_root + "missing"}) m_tree->OpenPath(nothing);
    QCOMPARE(changes.count(), 0);
    m_tree->OpenPath(m_root + "sub/inner");
    QCOMPARE(changes.count(), 1);
    QCOMPARE(m_tree->SelectedPath(), m_root + "sub/inner/");
    QCOMPARE(TNvDirTree21::PathOf(m_tree->currentItem()), m_root + "sub/inner");
    QVERIFY(m_tree->currentItem()->parent()->isExpanded());
    QCOMPARE(m_list->Directory(), QString("Drives"));  // the walk does not move the list
    // A folder with a sub-folder shows its button; one without does not.
    QTreeWidgetItem* t = m_tree->currentItem()->parent()->parent();
    QCOMPARE(m_tree->Child(t, "link")->childIndicatorPolicy(), QTreeWidgetItem::ShowIndicator);
    QCOMPARE(m_tree->Child(t, "empty")->childIndicatorPolicy(),
             QTreeWidgetItem::DontShowIndicatorWhenChildless);

    m_list->SetDirectory(m_root + "sub/inner/");
    key(Qt::Key_Backspace);  // up: the parent, with the folder just left selected, and the tree follows
    QCOMPARE(m_list->Directory(), m_root + "sub/");
    QCOMPARE(m_list->SelectedRows(), QList<int>{row("inner")});
    QCOMPARE(m_tree->SelectedPath(), m_root + "sub/");
    key(Qt::Key_Return);  // opens the selected folder
    QCOMPARE(m_list->Directory(), m_root + "sub/inner/");
    m_list->SetDirectory("/");
    m_list->OneLevelUp();  // up from a drive's root: the drives, that drive selected
    QCOMPARE(m_list->Directory(), QString("Drives"));
    QCOMPARE(m_list->SubItem(m_list->SelectedRows().value(0), 4), QString("/"));

    m_tree->SelectNode(m_tree->Root());  // the computer: the drive view
    QCOMPARE(m_tree->SelectedPath(), QString("Drives"));
    m_list->SetDirectory(m_root);
    m_list->SelectItem(row("k2048"));
    key(Qt::Key_Return);  // a file opens with the desktop's application
    QCOMPARE(m_messages.last(), "open " + m_root + "k2048");
    m_list->ShowProperties();
    QCOMPARE(m_messages.last(), "properties " + m_root + "k2048");
}

void TNvExplorerTest::goneUnreadableAndRenamed() {
    m_list->SetDirectory(m_root + "sub/inner");
    fs::remove_all(path("sub"));
    m_list->UpdateFileList();  // a folder removed while shown lists nothing
    QCOMPARE(m_list->ItemCount(), 0);
    m_tree->OpenPath(m_root + "sub/inner");
    QCOMPARE(m_tree->SelectedPath(), QString());
    m_list->OneLevelUp();
    QCOMPARE(m_list->Directory(), m_root);  // up to the nearest folder that still exists
    QCOMPARE(m_list->SelectedRows(), QList<int>());
    if (::geteuid() != 0) {  // root reads every folder
        fs::permissions(path("empty"), fs::perms::none);
        m_list->SetDirectory(m_root + "empty");
        QCOMPARE(m_list->ItemCount(), 0);
        fs::permissions(path("empty"), fs::perms::owner_all);
    }

    m_tree->OpenPath(m_root + "Beta");
    QTreeWidgetItem* beta = m_tree->currentItem();
    beta->setText(0, "Be:ta");  // what the in-place editor commits
    QCOMPARE(m_messages.last(), kInvalidFolderNameText);
    QCOMPARE(beta->text(0), QString("Beta"));
    beta->setText(0, "Gamma");
    QVERIFY(fs::is_directory(path("Gamma")) && !fs::exists(path("Beta")));
    QCOMPARE(m_list->Directory(), m_root);  // the list shows the parent
    QVERIFY(row("Gamma") >= 0);
}

void TNvExplorerTest::fileOperations() {
    m_list->ParentDirEnabled = false;
    m_list->SetReadOnly(true);
    m_list->SetDirectory(m_root);
    m_list->SelectItem(row("zero"));
    m_confirm = false;
    key(Qt::Key_Delete);
    QVERIFY(fs::exists(path("zero")));  // cancelled
    m_confirm = true;
    key(Qt::Key_Delete);
    QVERIFY(!fs::exists(path("zero")));
    QCOMPARE(row("zero"), -1);
    QVERIFY(fs::exists((m_dir + "data/Trash/files/zero").toStdString()));  // in the trash, not gone

    m_list->SelectItem(row("one.txt"));
    m_list->SelectItem(row("k2048"));
    key(Qt::Key_C, Qt::ControlModifier);
    std::ofstream(path("sub/one.txt")) << "mine";
    m_list->SetDirectory(m_root + "sub");
    m_messages.clear();
    key(Qt::Key_V, Qt::ControlModifier);  // one.txt exists there: refused, k2048 copied
    QCOMPARE(m_messages.size(), 1);
    QVERIFY(m_messages[0].contains("one.txt"));
    std::string mine;
    std::ifstream(path("sub/one.txt")) >> mine;
    QCOMPARE(mine, std::string("mine"));
    QCOMPARE(fs::file_size(path("sub/k2048")), std::uintmax_t(2048));
    QVERIFY(row("k2048") >= 0);

    key(Qt::Key_N, Qt::ControlModifier);
    QVERIFY(fs::is_directory(path("sub/New Folder")));
    QCOMPARE(m_list->SelectedRows(), QList<int>{row("New Folder")});
    key(Qt::Key_F2);  // read-only: no editor
    QVERIFY(m_list->ReportView()->findChildren<QLineEdit*>().isEmpty());
    key(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(m_list->SelectedRows().size(), m_list->ItemCount());
}

void TNvExplorerTest::volumeMountedWhileShown() {
    if (::geteuid() != 0) QSKIP("mounting a tmpfs needs root");
    const QString mnt = m_dir + "mnt";
    fs::create_directories(mnt.toStdString());
    if (::mount("tmpfs", mnt.toUtf8().constData(), "tmpfs", 0, "size=4m") != 0) QSKIP("no tmpfs mount here");
    fs::create_directories((mnt + "/inside/deeper").toStdString());
    m_tree->Reload();
    QTreeWidgetItem* drive = nullptr;
    for (int i = 0; i < m_tree->Root()->childCount(); ++i)
        if (TNvDirTree21::PathOf(m_tree->Root()->child(i)) == mnt + '/') drive = m_tree->Root()->child(i);
    QVERIFY(drive != nullptr);
    QCOMPARE(drive->text(0), " (" + mnt + "/)  tmpfs");
    m_tree->OpenPath(mnt + "/inside/deeper");  // the walk goes through the mounted drive
    QCOMPARE(m_tree->currentItem()->parent()->parent(), drive);
    m_list->UpdateFileList();
    QCOMPARE(m_list->SubItem(row(" (" + mnt + "/)  tmpfs"), 0), QString("RAM Disk"));
    m_tree->SelectNode(m_tree->currentItem());
    QCOMPARE(m_list->Directory(), mnt + "/inside/deeper/");
    QVERIFY(::umount(mnt.toUtf8().constData()) == 0);
    m_list->UpdateFileList();  // the folder is gone with its volume
    QCOMPARE(m_list->ItemCount(), 0);
    key(Qt::Key_F5);
    m_tree->setFocus();
    QTest::keyClick(m_tree.get(), Qt::Key_F5);  // the tree reloads: the drive is gone
    for (int i = 0; i < m_tree->Root()->childCount(); ++i)
        QVERIFY(TNvDirTree21::PathOf(m_tree->Root()->child(i)) != mnt + '/');
}

}  // namespace brenwick

QTEST_MAIN(brenwick::TNvExplorerTest)
#include "TNvExplorer_test.moc"
