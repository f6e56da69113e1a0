// The add-files window on real temporary folders: its start and tool bar, Add with its duplicate rule,
// the statistics and what refreshes them, and, from the main window, files and a folder added while a
// recording runs, recorded into an image recorder and read back by xorriso.
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "app/main/TForm1.h"
#include "app/main/TForm2.h"
#include "drive/qrASPI.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"
#include "drive/recorder/TStateFile.h"
#include "engine/testing/IsoReaders.h"

namespace fs = std::filesystem;

namespace brenwick {

class TForm2Test : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        char pattern[] = "/tmp/brenwick-addfiles-XXXXXX";
        QVERIFY(::mkdtemp(pattern) != nullptr);
        m_dir = pattern;
        QVERIFY(qputenv("XDG_DATA_HOME", QByteArray::fromStdString((m_dir / "data").string())));
        QVERIFY(qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString((m_dir / "config").string())));
        m_src = QString::fromStdString((m_dir / "home" / "ann").string()) + '/';
        fs::create_directories((m_dir / "home" / "ann" / "Docs" / "sub"));
        write("Docs/report.txt", std::string(100, 'r'));
        write("Docs/sub/deep.txt", "deep\n");
        write("a.txt", std::string(1536, 'a'));
        write("b.txt", std::string(1234567, 'b'));
        write("c.txt", "c\n");
    }
    void cleanupTestCase() { fs::remove_all(m_dir); }
    void init() {
        m_archives.clear();
        m_form = std::make_unique<TForm2>(&m_archives, TNvShell{});
    }
    void cleanup() {
        m_form.reset();
        m_main.reset();
        ShutdownTransport();
    }

    void startAndToolBar();
    void addRules();
    void statisticsAndWhatRefreshesThem();
    void addFromTheMainWindowWhileItRecords();

  private:
    void write(const std::string& rel, const std::string& text) const {
        std::ofstream((m_src + QString::fromStdString(rel)).toStdString(), std::ios::binary) << text;
    }
    TNvFilelistView28* list() const { return m_form->NvFilelistView281; }
    int row(const QString& caption) const {
        for (int r = 0; r < list()->ItemCount(); ++r)
            if (list()->Caption(r) == caption) return r;
        return -1;
    }
    void select(const QStringList& captions) {
        for (const QString& c : captions) list()->SelectItem(row(c));
    }
    QStringList archives() const {
        QStringList entries;
        for (int i = 0; i < m_archives.count(); ++i) entries << m_archives.item(i)->text();
        return entries;
    }
    QString panel(int i) const { return m_form->StatusBar1->PanelText(i); }
    // A click on an entry of the details view.
    void clickRow(const QString& caption, Qt::MouseButton button, Qt::KeyboardModifiers mods = {}) {
        QTreeView* view = list()->ReportView();
        const QRect r = view->visualRect(list()->Model()->index(row(caption), 0));
        QTest::mouseClick(view->viewport(), button, mods, r.center());
    }

    fs::path m_dir;
    QString m_src;
    QListWidget m_archives;
    std::unique_ptr<TForm2> m_form;
    std::unique_ptr<TForm1> m_main;
};

void TForm2Test::startAndToolBar() {
    QCOMPARE(m_form->windowTitle(), QString("Brenwick - Add files or folders to archives"));
    QVERIFY(m_form->isWindow() && m_form->parentWidget() == nullptr);  // unowned, its own task-bar entry
    QCOMPARE(m_form->size(), QSize(620, 422));
    QCOMPARE(m_form->Label1->text(), QString("Choose files or folders and then click add button"));
    QCOMPARE(list()->Directory(), QString("Drives"));
    QCOMPARE(m_form->BtnAdd->toolTip(), QString("Add Files/Folders to Backup List"));
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    QVERIFY(m_form->BtnViewDetails->isChecked());
    QTest::mouseClick(m_form->BtnViewLarge, Qt::LeftButton);
    QVERIFY(m_form->BtnViewLarge->isChecked() && !m_form->BtnViewDetails->isChecked());
    QCOMPARE(list()->ViewStyle(), TNvViewStyle::vsIcon);
    QTest::mouseClick(m_form->BtnViewList, Qt::LeftButton);
    QCOMPARE(list()->ViewStyle(), TNvViewStyle::vsList);
    QVERIFY(!m_form->BtnViewLarge->isChecked());
    QTest::mouseClick(m_form->BtnShowFolderTree, Qt::LeftButton);
    QVERIFY(!m_form->NvDirTree211->isVisible() && !m_form->BtnShowFolderTree->isChecked());
    QTest::mouseClick(m_form->BtnShowFolderTree, Qt::LeftButton);
    QVERIFY(m_form->NvDirTree211->isVisible() && m_form->BtnShowFolderTree->isChecked());
    m_form->close();  // only hidden: the folder and the selection stay
    QVERIFY(!m_form->isVisible());
}

void TForm2Test::addRules() {
    m_form->ShowFolder(m_src + "Docs/sub/");
    QCOMPARE(list()->Directory(), m_src + "Docs/sub/");
    QCOMPARE(m_form->NvDirTree211->SelectedPath(), m_src + "Docs/sub/");
    QTest::mouseClick(m_form->BtnUp, Qt::LeftButton);
    QTest::mouseClick(m_form->BtnUp, Qt::LeftButton);
    QCOMPARE(list()->Directory(), m_src);
    QCOMPARE(list()->SelectedRows(), QList<int>{row("Docs")});  // the folder just left

    list()->ReportView()->clearSelection();
    m_archives.addItem(m_src + "docs/");  // differs only in case: not the same entry
    QTest::mouseClick(m_form->BtnAdd, Qt::LeftButton);
    QCOMPARE(m_form->Label1->text(), QString("0 object(s) added to archives"));
    QCOMPARE(m_archives.count(), 1);
    select({"c.txt", "a.txt", "Docs", "b.txt"});
    QTest::mouseClick(m_form->BtnAdd, Qt::LeftButton);
    const QStringList added = {m_src + "docs/", m_src + "Docs/", m_src + "a.txt", m_src + "b.txt",
                               m_src + "c.txt"};
    QCOMPARE(archives(), added);  // in the list's order, the folder with its "/"
    QCOMPARE(m_form->Label1->text(), QString("4 object(s) added to archives"));
    QTest::mouseClick(m_form->BtnAdd, Qt::LeftButton);  // the same again: nothing, yet counted
    QCOMPARE(archives(), added);
    QCOMPARE(m_form->Label1->text(), QString("4 object(s) added to archives"));

    m_form->ShowFolder("/");
    QTest::mouseClick(m_form->BtnUp, Qt::LeftButton);  // the drives, "/" selected: entered once as "/"
    QCOMPARE(list()->Directory(), QString("Drives"));
    QTest::mouseClick(m_form->BtnAdd, Qt::LeftButton);
    QCOMPARE(archives().last(), QString("/"));
}

void TForm2Test::statisticsAndWhatRefreshesThem() {
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    m_form->ShowFolder(m_src);
    QCOMPARE(panel(0), QString("4 object(s)"));
    QVERIFY(panel(1).startsWith(" Selected Size = 0 KB  ( Disk free space: ") && panel(1).endsWith(" MB )"));
    clickRow("a.txt", Qt::LeftButton);
    QCOMPARE(panel(0), QString("4 object(s)  --  1  selected "));
    QVERIFY(panel(1).startsWith(" Selected Size = 1.50 KB (Disk free space: ") && panel(1).endsWith(" MB)"));
    clickRow("b.txt", Qt::RightButton);  // selects b.txt alone, without a refresh
    QVERIFY(panel(1).startsWith(" Selected Size = 1.50 KB"));
    clickRow("a.txt", Qt::LeftButton, Qt::ControlModifier);
    QVERIFY(panel(1).startsWith(" Selected Size = 1,207.13 KB (Disk free space: "));
    const QString before = panel(0) + panel(1);
    QTest::keyClick(list()->ReportView(), Qt::Key_Home);  // moves to Docs alone: no refresh
    QCOMPARE(panel(0) + panel(1), before);
    QTest::keyClick(list()->ReportView(), Qt::Key_Down);
    QCOMPARE(panel(0), QString("4 object(s)  --  1  selected "));
    QVERIFY(panel(1).startsWith(" Selected Size = 1.50 KB"));
}

// The add-files window from the main window: Add shows it; entries added while a recording runs reach the
// Archives list and the next backup, not the running one; Open moves it and Save stores its folder.
void TForm2Test::addFromTheMainWindowWhileItRecords() {
    const std::string recorder = (m_dir / "data" / "brenwick" / "recorders" / "default").string();
    std::string error;
    QVERIFY2(CreateRecorder(recorder, TMediaType::CdR80, error), error.c_str());
    QVERIFY2(UpdateRecorderState(
                 recorder,
                 [](TRecorderState& s) {
                     s.settings.busy = InstantBusyTimes();
                     s.settings.speedX = 4;  // about 600 KB/s: the recording lasts a few seconds
                 },
                 error),
             error.c_str());
    const QString profile = QString::fromStdString((m_dir / "profile.ini").string());
    std::ofstream(profile.toStdString())
        << "[Archives]\nCount=0\n[Options]\nVolume=Weekly\nOpenPath=" + m_src.toStdString() + "Docs\n";
    TForm1Dialogs dialogs;
    dialogs.chooseOpen = [&](QWidget*, const QString&) { return profile; };
    dialogs.chooseSave = [&](QWidget*, const QString&, const QString&) { return profile; };
    dialogs.showError = [](QWidget*, const QString& message) { QFAIL(qPrintable(message)); };
    m_main = std::make_unique<TForm1>(dialogs);
    m_form = std::make_unique<TForm2>(m_main->Archives, TNvShell{});
    m_main->AttachAddFiles(m_form.get());
    m_main->show();
    QTest::mouseClick(m_main->ButtonOpen, Qt::LeftButton);
    QCOMPARE(list()->Directory(), m_src + "Docs/");  // Open moved the window
    QTest::mouseClick(m_main->ButtonAdd, Qt::LeftButton);
    QVERIFY(m_form->isVisible());

    m_form->NvDirTree211->OpenPath(m_src);
    m_form->NvDirTree211->SelectNode(m_form->NvDirTree211->currentItem());  // as a click on the node
    select({"Docs", "a.txt", "b.txt"});
    QTest::mouseClick(m_form->BtnAdd, Qt::LeftButton);
    QTest::mouseClick(m_main->ButtonBurn, Qt::LeftButton);
    QVERIFY(m_main->Workflow().JobActive());
    list()->ReportView()->clearSelection();
    select({"c.txt"});
    QTest::mouseClick(m_form->BtnAdd, Qt::LeftButton);  // usable while the main window records
    QCOMPARE(m_main->Archives->count(), 4);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->Workflow().JobActive(), 120000);
    QCOMPARE(m_main->Log->toPlainText().split('\n').last(), QString("<<< WRITE/BURNCD PROCESS DONE"));
    QTest::mouseClick(m_main->ButtonSave, Qt::LeftButton);
    std::ifstream saved(profile.toStdString());
    const std::string text((std::istreambuf_iterator<char>(saved)), {});
    QVERIFY(text.find("OpenPath=" + m_src.toStdString() + "\n") != std::string::npos);
    m_main.reset();
    ShutdownTransport();

    TRecorderState state;
    QVERIFY2(LoadStateFile(recorder, state, error), error.c_str());
    const testing::TReaderTree tree = testing::ReadWithXorriso(
        recorder + "/disc.img", std::uint32_t(state.disc.sessionStart(1)), m_dir / "read");
    QVERIFY2(tree.error.empty(), tree.error.c_str());
    QStringList names;
    for (const auto& [name, content] : tree.files)
        if (!name.ends_with("/BRENWICK.SHA256")) names << QString::fromStdString(name).section('/', 2);
    names.sort();
    const QString base = m_src.mid(1);
    QCOMPARE(names, QStringList({base + "Docs/report.txt", base + "Docs/sub/deep.txt", base + "a.txt",
                                 base + "b.txt"}));
    for (const auto& [name, content] : tree.files)
        if (name.ends_with("/a.txt")) QCOMPARE(content, std::string(1536, 'a'));
}

}  // namespace brenwick

QTEST_MAIN(brenwick::TForm2Test)
#include "TForm2_test.moc"
