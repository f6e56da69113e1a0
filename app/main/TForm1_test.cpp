// The main window against real image recorders in a private recorder set: its controls and start, the
// profile commands, the control states through every job, Stop and close at their phases, and one backup
// recorded and continued by clicking the window as a user would, read back by xorriso.
#include <QtTest>
#include <filesystem>
#include <fstream>

#include "app/main/TForm1.h"
#include "drive/qrASPI.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"
#include "drive/recorder/TStateFile.h"
#include "engine/testing/IsoReaders.h"

namespace fs = std::filesystem;

// Runs events until the window's job has ended (a recording's write done or an erase's end has run).
#define WAIT_FOR_JOB_END() QTRY_VERIFY_WITH_TIMEOUT(!m_form->Workflow().JobActive(), 120000)

namespace brenwick {

class TForm1Test : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase() {
        char pattern[] = "/tmp/brenwick-window-XXXXXX";
        QVERIFY(::mkdtemp(pattern) != nullptr);
        m_dir = pattern;
        QVERIFY(qputenv("XDG_DATA_HOME", QByteArray::fromStdString((m_dir / "data").string())));
        m_recorders = m_dir / "data" / "brenwick" / "recorders";
        m_src = m_dir / "home" / "ann";
        fs::create_directories(m_src / "Docs" / "sub");
        write("Docs/report.txt", "quarterly figures\n");
        write("Docs/sub/deep.txt", "deep\n");
        write("notes.txt", "notes\n");
        write("big.bin", std::string(6 << 20, 'x'));
    }
    void cleanupTestCase() { fs::remove_all(m_dir); }
    void init() {
        fs::remove_all(m_recorders);
        m_minute = 5;
        m_errors.clear();
    }
    void cleanup() {
        m_form.reset();  // waits for the job's threads
        ShutdownTransport();
    }

    void startShowsTheWindowAndItsRecorder();
    void profileCommands();
    void recordingStatesAndStop();
    void stopWhileTheCacheFills();
    void closeDuringARecording();
    void eraseAndCloseDuringIt();
    void backupAndContinueByClicking();
    void imageRecorderDiscFromTheWindow();
    void stopAndCloseDuringALargePrepare();

  private:
    void write(const std::string& rel, const std::string& text) const {
        std::ofstream(m_src / rel, std::ios::binary) << text;
    }
    std::string src(const std::string& rel) const { return (m_src / rel).string(); }
    void makeRecorder(TMediaType media, unsigned speedX = 0) {
        std::string error;
        const std::string folder = (m_recorders / "default").string();
        QVERIFY2(CreateRecorder(folder, media, error), error.c_str());
        QVERIFY2(UpdateRecorderState(
                     folder,
                     [speedX](TRecorderState& s) {
                         s.settings.busy = InstantBusyTimes();
                         s.settings.speedX = speedX;
                     },
                     error),
                 error.c_str());
    }
    // A window whose dialogs answer `profile` and record error boxes.
    void openWindow() {
        TForm1Dialogs d;
        d.chooseOpen = [this](QWidget*, const QString&) { return m_choose; };
        d.chooseSave = [this](QWidget*, const QString&, const QString&) { return m_choose; };
        d.showError = [this](QWidget*, const QString& message) { m_errors << message; };
        // Each run's folder is named after the minute the test sets.
        m_form = std::make_unique<TForm1>(d, [this] {
            std::tm t{};
            t.tm_year = 124;
            t.tm_mon = 4;
            t.tm_mday = 1;
            t.tm_hour = 9;
            t.tm_min = m_minute;
            return t;
        });
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
    }
    QString writeProfile(const std::vector<std::string>& entries, const std::string& options = "") {
        const fs::path file = m_dir / "profile.ini";
        std::ofstream out(file);
        out << "[Archives]\n";
        for (std::size_t i = 0; i < entries.size(); ++i) out << "n" << i << "=" << entries[i] << "\n";
        out << "Count=" << entries.size() << "\n[Options]\nVolume=Weekly\n" << options;
        return QString::fromStdString(file.string());
    }
    void openProfile(const QString& file) {
        m_choose = file;
        QTest::mouseClick(m_form->ButtonOpen, Qt::LeftButton);
    }
    void click(QToolButton* button) { QTest::mouseClick(button, Qt::LeftButton); }
    // The enabled commands, in tool bar order, as one string ("New Open ...").
    QString enabledCommands() const {
        QStringList on;
        for (QToolButton* b :
             {m_form->ButtonNew, m_form->ButtonOpen, m_form->ButtonSave, m_form->ButtonSaveAs,
              m_form->ButtonErase, m_form->ButtonPrePare, m_form->ButtonBurn, m_form->ButtonStop,
              m_form->ButtonAbout, m_form->ButtonExit})
            if (b->isEnabled()) on << b->text();
        if (m_form->GroupBox2->isEnabled() && m_form->GroupBox3->isEnabled()) on << "groups";
        return on.join(' ');
    }
    QStringList logLines() const { return m_form->Log->toPlainText().split('\n'); }

    fs::path m_dir, m_recorders, m_src;
    std::unique_ptr<TForm1> m_form;
    QString m_choose;
    QStringList m_errors;
    int m_minute = 5;
};

static const QString kIdle = "New Open Save Save As Erase Prepare Burn About Exit groups";
static const QString kAfterNew = "New Open Save As Erase Prepare Burn About Exit groups";

void TForm1Test::startShowsTheWindowAndItsRecorder() {
    makeRecorder(TMediaType::CdRw80);
    openWindow();
    QCOMPARE(m_form->windowTitle(), QString("Brenwick - v1.0"));
    QCOMPARE(m_form->size(), QSize(600, 500));
    QCOMPARE(enabledCommands(), QString("New Open About Exit"));
    QCOMPARE(m_form->Device->count(), 1);
    QCOMPARE(m_form->Device->currentIndex(), 0);
    QVERIFY(m_form->Device->currentText().contains("IMAGE RECORDER"));
    QCOMPARE(logLines().last(), "<<< " + m_form->Device->currentText());
    QCOMPARE(m_form->GaugeCDBuf->MaxValue(), 2097152);  // the recorder's buffer, in bytes

    struct Button {
        QToolButton* button;
        const char *text, *hint;
    } buttons[] = {{m_form->ButtonNew, "New", "New profile"},
                   {m_form->ButtonOpen, "Open", "Open profile"},
                   {m_form->ButtonSave, "Save", "Save profile"},
                   {m_form->ButtonSaveAs, "Save As", "Save profile to new file"},
                   {m_form->ButtonErase, "Erase", "Quick erase disc"},
                   {m_form->ButtonPrePare, "Prepare", "Calculate data"},
                   {m_form->ButtonBurn, "Burn", "Start backup data"},
                   {m_form->ButtonStop, "Stop", "Cancel"},
                   {m_form->ButtonAbout, "About", "About"},
                   {m_form->ButtonExit, "Exit", "Exit"}};
    for (const Button& b : buttons) {
        QCOMPARE(b.button->text(), QString(b.text));
        QCOMPARE(b.button->toolTip(), QString(b.hint));
        QVERIFY(!b.button->icon().isNull());
    }
    struct Gauge {
        TPmGauge* gauge;
        QRect at;
    } gauges[] = {{m_form->Gauge, {45, 4, 123, 16}},
                  {m_form->GaugeBuf, {369, 4, 94, 16}},
                  {m_form->GaugeCDBuf, {502, 4, 96, 16}}};
    for (const Gauge& g : gauges) {
        QCOMPARE(g.gauge->parentWidget(), m_form->StatusBar);
        QCOMPARE(g.gauge->geometry(), g.at);
        QCOMPARE(g.gauge->BackColor(), QColor(0xC0, 0xC0, 0xC0));
        QCOMPARE(g.gauge->ForeColor(), QColor(0, 0, 0x80));
        QVERIFY(g.gauge->BorderStyle() == TBorderStyle::bsNone);
    }
    QCOMPARE(m_form->StatusBar->PanelCount(), 5);
    QCOMPARE(m_form->StatusBar->PanelText(0), QString("Process"));
    QCOMPARE(m_form->StatusBar->PanelText(3), QString("Cache"));
    QCOMPARE(m_form->StatusBar->PanelText(4), QString("Buffer"));
    QCOMPARE(m_form->Log->height(), 61);

    // A recorder made while the window runs appears after a rescan; the selection stays.
    std::string error;
    QVERIFY2(CreateRecorder((m_recorders / "second").string(), TMediaType::DvdPlusRw, error), error.c_str());
    m_form->RescanRecorders();
    QCOMPARE(m_form->Device->count(), 2);
    QCOMPARE(m_form->Device->currentIndex(), 0);
    QCOMPARE(logLines().last(), "<<< " + m_form->Device->currentText());
    QCOMPARE(m_form->cbCloseDisc->toolTip(), QString("No more data can be written to the media"));
}

void TForm1Test::profileCommands() {
    makeRecorder(TMediaType::CdRw80);
    openWindow();
    click(m_form->ButtonNew);
    QCOMPARE(m_form->windowTitle(), QString("Brenwick - Untitled"));
    QCOMPARE(enabledCommands(), kAfterNew);
    QVERIFY(m_form->cbVerify->isChecked());  // New turns verification on

    // Save As after New switches Save on and leaves the rest as after New.
    m_form->Archives->addItem(QString::fromStdString(src("notes.txt")));
    m_form->EditVolume->setText("Mine");
    const QString saved = QString::fromStdString((m_dir / "saved.ini").string());
    m_choose = saved;
    click(m_form->ButtonSaveAs);
    QCOMPARE(m_form->windowTitle(), "Brenwick - " + saved);
    QCOMPARE(enabledCommands(), kIdle);
    QCOMPARE(m_form->Workflow().State(), TJobState::AfterNewSaved);

    click(m_form->ButtonNew);
    openProfile(saved);
    QCOMPARE(enabledCommands(), kIdle);
    QCOMPARE(m_form->Archives->count(), 1);
    QCOMPARE(m_form->Archives->item(0)->text(), QString::fromStdString(src("notes.txt")));
    QCOMPARE(m_form->EditVolume->text(), QString("Mine"));
    QVERIFY(LoadProfile(saved.toStdString()).profile.DeviceName == "default");  // saved beside Device
    QVERIFY(m_form->cbVerify->isChecked());

    m_choose.clear();  // a cancelled dialog changes nothing
    click(m_form->ButtonOpen);
    QCOMPARE(m_form->windowTitle(), "Brenwick - " + saved);

    // Verify: off as the profile says and saved so; a profile without the key reads as on.
    openProfile(writeProfile({src("notes.txt")}, "Verify=0\n"));
    QVERIFY(!m_form->cbVerify->isChecked());
    m_choose = saved;
    click(m_form->ButtonSaveAs);
    QVERIFY(!LoadProfile(saved.toStdString()).profile.Verify);
    openProfile(writeProfile({src("notes.txt")}));
    QVERIFY(m_form->cbVerify->isChecked());

    // The recorder's stable name wins over a stale position; a name that names none selects none.
    openProfile(writeProfile({src("notes.txt")}, "Device=7\nDeviceName=default\n"));
    QCOMPARE(m_form->Device->currentIndex(), 0);
    openProfile(writeProfile({src("notes.txt")}, "Device=0\nDeviceName=gone\n"));
    QCOMPARE(m_form->Device->currentIndex(), -1);
    QVERIFY2(!logLines().filter("<<< no recorder 'gone'").isEmpty(), qPrintable(logLines().join('\n')));

    const QString refused = QString::fromStdString((m_dir / "no-such-folder" / "p.ini").string());
    m_choose = refused;
    click(m_form->ButtonSaveAs);
    QCOMPARE(m_errors, QStringList{"Unable to write to " + refused});
    QCOMPARE(m_form->windowTitle(), "Brenwick - " + refused);
    QCOMPARE(enabledCommands(), kIdle);
}

// A throttled recording: the recording state, the panels and gauges moving, Stop, and the idle state
// once the write thread has ended.
void TForm1Test::recordingStatesAndStop() {
    makeRecorder(TMediaType::CdR80, 1);
    openWindow();
    openProfile(writeProfile({src("big.bin")}));
    click(m_form->ButtonPrePare);
    QVERIFY(logLines().contains("<<< SESSIONS ON DISC : 0"));
    QCOMPARE(m_form->StatusBar->PanelText(2), QString("CD-R"));
    QCOMPARE(enabledCommands(), kIdle);

    click(m_form->ButtonBurn);
    QCOMPARE(enabledCommands(), QString("Stop About"));
    QTRY_VERIFY_WITH_TIMEOUT(m_form->Gauge->Progress() > 0, 30000);
    QVERIFY(m_form->StatusBar->PanelText(1).endsWith(" MB"));
    QCOMPARE(m_form->Gauge->MaxValue(), int(m_form->Workflow().Progress().sessionBytes));
    QTRY_VERIFY_WITH_TIMEOUT(m_form->GaugeCDBuf->Progress() > 0, 30000);

    click(m_form->ButtonStop);
    QCOMPARE(enabledCommands(), QString("About"));
    WAIT_FOR_JOB_END();
    QCOMPARE(enabledCommands(), kIdle);
    QCOMPARE(logLines().last(), QString("<<< OPERATION ABORTED BY USER"));
}

// Stop pressed while BurnCD waits for the cache: the window keeps running events, the stop is kept and
// the recording ends stopped.
void TForm1Test::stopWhileTheCacheFills() {
    makeRecorder(TMediaType::CdR80, 4);
    openWindow();
    openProfile(writeProfile({src("Docs/"), src("big.bin")}));
    std::atomic<bool> filling{false}, release{false};
    m_form->Adapter().CD().CacheHooks.SetPriority = [&](TThreadPriority) {
        filling = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    // Runs inside BurnCD's wait, as a user's click would.
    QString statesWhileFilling;
    QTimer poll;
    poll.setInterval(1);
    connect(&poll, &QTimer::timeout, this, [&] {
        if (!filling || release) return;
        statesWhileFilling = enabledCommands();
        click(m_form->ButtonStop);
        release = true;
    });
    poll.start();
    QTimer safety;  // never hang the test (a local timer: it goes with the test)
    safety.setSingleShot(true);
    connect(&safety, &QTimer::timeout, this, [&] { release = true; });
    safety.start(30000);
    click(m_form->ButtonBurn);
    WAIT_FOR_JOB_END();
    QCOMPARE(statesWhileFilling, QString("Stop About"));
    QCOMPARE(enabledCommands(), kIdle);
    QCOMPARE(logLines().last(), QString("<<< OPERATION ABORTED BY USER"));
}

void TForm1Test::closeDuringARecording() {
    makeRecorder(TMediaType::CdR80, 1);
    openWindow();
    openProfile(writeProfile({src("big.bin")}));
    click(m_form->ButtonBurn);
    QTRY_VERIFY_WITH_TIMEOUT(m_form->Gauge->Progress() > 0, 30000);
    QVERIFY(!m_form->close());
    QCOMPARE(logLines().last(), QString("<<< A RECORDING IS RUNNING: CLOSE AGAIN TO STOP IT"));
    QVERIFY(m_form->isVisible());
    QCOMPARE(enabledCommands(), QString("Stop About"));
    QVERIFY(!m_form->close());  // the second close stops; the window goes after write done
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->isVisible(), 60000);
    QVERIFY(!m_form->Workflow().JobActive());
    QVERIFY(logLines().contains("<<< OPERATION ABORTED BY USER"));
}

void TForm1Test::eraseAndCloseDuringIt() {
    makeRecorder(TMediaType::CdRw80);
    openWindow();
    click(m_form->ButtonNew);
    click(m_form->ButtonErase);
    QCOMPARE(enabledCommands(), QString("About"));
    WAIT_FOR_JOB_END();
    QCOMPARE(enabledCommands(), kIdle);
    QCOMPARE(logLines().last(), QString("<<< ERASE PROCESS DONE"));
    QCOMPARE(m_form->Gauge->PercentDone(), 100);
    const QString saved = QString::fromStdString((m_dir / "untitled.ini").string());
    m_choose = saved;  // Save on the untitled profile asks for a file
    click(m_form->ButtonSave);
    QCOMPARE(m_form->windowTitle(), "Brenwick - " + saved);
    QVERIFY(fs::exists(saved.toStdString()));

    // Erase before backup, closed during the erase: the window closes after it, and no burn follows.
    m_form->Archives->addItem(QString::fromStdString(src("notes.txt")));
    m_form->cbEraseBefore->setChecked(true);
    click(m_form->ButtonBurn);
    QCOMPARE(m_form->Workflow().State(), TJobState::Erasing);  // its end comes after a 2 s poll
    QVERIFY(!m_form->close());
    QCOMPARE(logLines().last(), QString("<<< THE DISC IS BEING ERASED: THE WINDOW CLOSES WHEN IT ENDS"));
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->Workflow().JobActive(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(!m_form->isVisible(), 10000);
    QVERIFY(!logLines().contains("<<< WRITE/BURNCD PROCESS DONE"));
}

// A user's backup: Open through the window's own handler, drop a stale entry from the Archives list,
// tick the check boxes, Burn; then change a file and Burn again continuing the disc. xorriso reads both
// sessions back and every file equals its source as it was at its run.
void TForm1Test::backupAndContinueByClicking() {
    makeRecorder(TMediaType::CdR80);
    openWindow();
    openProfile(writeProfile({src("Docs/"), "/no/such/entry", src("notes.txt")}));
    QCOMPARE(m_form->Archives->count(), 3);
    const QRect stale = m_form->Archives->visualItemRect(m_form->Archives->item(1));
    QTest::mouseClick(m_form->Archives->viewport(), Qt::LeftButton, {}, stale.center());
    click(m_form->ButtonRemove);
    QCOMPARE(m_form->Archives->count(), 2);
    QTest::mouseClick(m_form->cbImport, Qt::LeftButton);
    QVERIFY(m_form->cbImport->isChecked());

    click(m_form->ButtonBurn);
    WAIT_FOR_JOB_END();
    QCOMPARE(logLines().last(), QString("<<< WRITE/BURNCD PROCESS DONE"));
    write("notes.txt", "notes, second run\n");
    m_minute = 6;
    click(m_form->ButtonBurn);
    WAIT_FOR_JOB_END();
    QCOMPARE(logLines().last(), QString("<<< WRITE/BURNCD PROCESS DONE"));
    QVERIFY(logLines().contains("<<< SESSIONS ON DISC : 1"));
    m_form.reset();
    ShutdownTransport();

    TRecorderState state;
    std::string error;
    QVERIFY2(LoadStateFile((m_recorders / "default").string(), state, error), error.c_str());
    QCOMPARE(state.disc.closedSessions, 2);
    std::map<std::string, std::string> expected;
    const auto run = [&](const std::string& folder, const std::string& notes) {
        const std::string root = "/2024-05-01 " + folder + m_src.string();
        expected[root + "/Docs/report.txt"] = "quarterly figures\n";
        expected[root + "/Docs/sub/deep.txt"] = "deep\n";
        expected[root + "/notes.txt"] = notes;
    };
    const std::string image = (m_recorders / "default" / "disc.img").string();
    run("09.05", "notes\n");
    for (int session : {1, 2}) {
        if (session == 2) run("09.06", "notes, second run\n");
        const testing::TReaderTree tree =
            testing::ReadWithXorriso(image, std::uint32_t(state.disc.sessionStart(session)), m_dir / "read");
        QVERIFY2(tree.error.empty(), tree.error.c_str());
        std::map<std::string, std::string> files = tree.files;
        std::erase_if(files, [](const auto& file) { return file.first.ends_with("/BRENWICK.SHA256"); });
        QVERIFY(files == expected);  // the checksum manifests have tests of their own
    }
}

// Without a drive, a full or closed disc is swapped from the window: a new blank disc, the tray closed
// after an eject, and the disc described in the log.
void TForm1Test::imageRecorderDiscFromTheWindow() {
    makeRecorder(TMediaType::CdR80);
    openWindow();
    openProfile(writeProfile({src("notes.txt")}));
    m_form->InsertBlankDisc("cd-rw-80");
    QVERIFY(logLines().contains("<<< BLANK DISC INSERTED: CD-RW 80 MIN"));
    click(m_form->ButtonPrePare);
    QCOMPARE(m_form->StatusBar->PanelText(2), QString("CD-RW"));

    QVERIFY(m_form->Adapter().CD().StartStopUnit(true));  // the tray opens; a job closes it itself
    click(m_form->ButtonPrePare);
    QVERIFY2(logLines().contains("<<< CLOSING THE TRAY"), qPrintable(logLines().join("\n")));
    QVERIFY(m_form->Adapter().CD().StartStopUnit(true));  // and the menu closes it too
    m_form->CloseTray();
    for (int i = 0; i < 10 && !logLines().last().startsWith("<<< NEW SESSION SIZE"); ++i)
        click(m_form->ButtonPrePare);  // the drive is busy loading the disc for a few commands
    QVERIFY2(logLines().last().startsWith("<<< NEW SESSION SIZE"), qPrintable(logLines().join("\n")));

    m_form->ShowDisc();
    QVERIFY(logLines().filter("CD-RW").size() >= 2);
}

// While Prepare walks 65,000 files the window keeps running events: a Stop given during a Burn's
// Prepare is kept and stops the recording as soon as it exists, and a close during a Prepare closes the
// window once the Prepare has ended.
void TForm1Test::stopAndCloseDuringALargePrepare() {
    const fs::path many = m_dir / "many";
    if (!fs::exists(many)) {
        for (int folder = 0; folder < 65; ++folder) {
            const fs::path dir = many / std::to_string(folder);
            fs::create_directories(dir);
            for (int file = 0; file < 1000; ++file) std::ofstream(dir / std::to_string(file)) << file;
        }
    }
    makeRecorder(TMediaType::CdR80);
    openWindow();
    openProfile(writeProfile({many.string() + "/"}));
    const auto walking = [this] {
        return !m_form->ButtonNew->isEnabled() && m_form->Workflow().State() == TJobState::Idle;
    };

    QString statesWhileWalking;
    QTimer stopper;
    stopper.setInterval(5);
    connect(&stopper, &QTimer::timeout, this, [&] {
        if (!statesWhileWalking.isEmpty() || !walking()) return;
        statesWhileWalking = enabledCommands();
        click(m_form->ButtonStop);
    });
    stopper.start();
    click(m_form->ButtonBurn);
    WAIT_FOR_JOB_END();
    stopper.stop();
    QCOMPARE(statesWhileWalking, QString("Stop About"));
    QCOMPARE(logLines().last(), QString("<<< OPERATION ABORTED BY USER"));
    QCOMPARE(enabledCommands(), kIdle);

    bool closeRefused = false;
    QTimer closer;
    closer.setInterval(5);
    connect(&closer, &QTimer::timeout, this, [&] {
        if (closeRefused || !walking()) return;
        closeRefused = !m_form->close() && m_form->isVisible();
    });
    closer.start();
    click(m_form->ButtonPrePare);
    closer.stop();
    QVERIFY(closeRefused);
    // The Prepare ran to its end (its size lines, and a notice may follow) before the window closed.
    QVERIFY(!logLines().mid(logLines().size() - 3).filter("<<< NEW SESSION SIZE").isEmpty());
    QTRY_VERIFY(!m_form->isVisible());
}

}  // namespace brenwick

QTEST_MAIN(brenwick::TForm1Test)
#include "TForm1_test.moc"
