// The main window: its controls, its start and the way it shows the workflow's state and values.
#include "app/main/TForm1.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>
#include <climits>

#include "app/main/ToolBarIcons.h"

namespace brenwick {

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kNavy(0x00, 0x00, 0x80);
const QColor kGrey(0x80, 0x80, 0x80);
constexpr int kClientWidth = 600;
constexpr int kClientHeight = 500;
constexpr int kLogHeight = 61;
constexpr int kStatusBarHeight = 23;
constexpr const char* kTitle = "Brenwick - v1.0";

QFont windowFont() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPointSize(8);
    return font;
}

QToolButton* toolButton(QToolBar* bar, const char* name, const QString& text, const QString& hint,
                        TToolIcon icon) {
    auto* b = new QToolButton(bar);
    b->setObjectName(name);
    b->setText(text);
    b->setToolTip(hint);
    b->setIcon(ToolBarIcon(icon));
    b->setIconSize(kToolBarIconSize);
    b->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    b->setAutoRaise(true);  // flat
    bar->addWidget(b);
    return b;
}

std::int32_t toGaugeValue(std::int64_t value) {
    return value > INT_MAX ? INT_MAX : static_cast<std::int32_t>(value);
}

}  // namespace

TForm1::TForm1(TForm1Dialogs dialogs, TBackupWorkflow::TClock clock, QWidget* parent)
    : QWidget(parent), m_dialogs(std::move(dialogs)) {
    setFont(windowFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kSilver);
    pal.setColor(QPalette::Button, kSilver);
    // Disabled captions in dark grey, readable on silver.
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        pal.setColor(QPalette::Disabled, role, kGrey);
    setPalette(pal);
    setAutoFillBackground(true);

    buildToolBar();
    buildArchives();
    buildOptions();
    Log = new QPlainTextEdit(this);
    Log->setObjectName("Log");
    Log->setReadOnly(true);
    Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Log->setFixedHeight(kLogHeight);
    Log->setFocusPolicy(Qt::NoFocus);  // no tab stop
    buildStatusBar();

    auto* body = new QHBoxLayout;
    body->setContentsMargins(4, 4, 4, 4);
    body->addWidget(GroupBox2, 1);
    body->addWidget(GroupBox3);
    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(0, 0, 0, 0);
    main->setSpacing(0);
    main->addWidget(ToolBar);
    main->addLayout(body, 1);
    main->addWidget(Log);
    main->addWidget(StatusBar);

    setFixedSize(kClientWidth, kClientHeight);  // a single fixed border
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    m_adapter = std::make_unique<TWorkflowAdapter>(makeView(), std::move(clock));
    wireHandlers();
    FormCreate();
    // A logout does not wait for a second close: it stops the recording at once.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] {
        m_closeAsked = true;
        close();
    });
}

// Every worker thread has ended before the workflow and the burner go (the adapter waits for them).
TForm1::~TForm1() = default;

void TForm1::buildToolBar() {
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName("ToolBar");
    ToolBar->setIconSize(kToolBarIconSize);
    ButtonNew = toolButton(ToolBar, "ButtonNew", "New", "New profile", TToolIcon::New);
    ButtonOpen = toolButton(ToolBar, "ButtonOpen", "Open", "Open profile", TToolIcon::Open);
    ButtonSave = toolButton(ToolBar, "ButtonSave", "Save", "Save profile", TToolIcon::Save);
    ButtonSaveAs =
        toolButton(ToolBar, "ButtonSaveAs", "Save As", "Save profile to new file", TToolIcon::SaveAs);
    ToolBar->addSeparator();
    ButtonErase = toolButton(ToolBar, "ButtonErase", "Erase", "Quick erase disc", TToolIcon::Erase);
    ButtonPrePare = toolButton(ToolBar, "ButtonPrePare", "Prepare", "Calculate data", TToolIcon::Prepare);
    ButtonBurn = toolButton(ToolBar, "ButtonBurn", "Burn", "Start backup data", TToolIcon::Burn);
    ButtonStop = toolButton(ToolBar, "ButtonStop", "Stop", "Cancel", TToolIcon::Stop);
    ToolBar->addSeparator();
    ButtonAbout = toolButton(ToolBar, "ButtonAbout", "About", "About", TToolIcon::About);
    ButtonExit = toolButton(ToolBar, "ButtonExit", "Exit", "Exit", TToolIcon::Exit);
}

void TForm1::buildArchives() {
    GroupBox2 = new QGroupBox(" Archives ", this);
    GroupBox2->setObjectName("GroupBox2");
    Archives = new QListWidget(GroupBox2);
    Archives->setObjectName("Archives");
    Archives->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Archives->setSortingEnabled(false);
    ButtonAdd = new QToolButton(GroupBox2);
    ButtonAdd->setObjectName("ButtonAdd");
    ButtonAdd->setToolTip("Add files or folders to archives");
    ButtonAdd->setIcon(ToolBarIcon(TToolIcon::Add));
    ButtonAdd->setAutoRaise(true);
    ButtonRemove = new QToolButton(GroupBox2);
    ButtonRemove->setObjectName("ButtonRemove");
    ButtonRemove->setToolTip("Remove files or folders from archives");
    ButtonRemove->setIcon(ToolBarIcon(TToolIcon::Remove));
    ButtonRemove->setAutoRaise(true);
    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ButtonAdd);
    buttons->addWidget(ButtonRemove);
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(GroupBox2);
    layout->addWidget(Archives, 1);
    layout->addLayout(buttons);
}

void TForm1::buildOptions() {
    GroupBox3 = new QGroupBox(" Options ", this);
    GroupBox3->setObjectName("GroupBox3");
    GroupBox3->setFixedWidth(230);
    Device = new QComboBox(GroupBox3);
    Device->setObjectName("Device");
    Device->setEditable(false);  // a drop-down list: no free text
    Label1 = new QLabel("Volume:", GroupBox3);
    Label1->setObjectName("Label1");
    EditVolume = new QLineEdit(GroupBox3);
    EditVolume->setObjectName("EditVolume");
    EditVolume->setToolTip("Disc volume label ");
    cbEraseBefore = new QCheckBox("Erase disc before backup", GroupBox3);
    cbEraseBefore->setObjectName("cbEraseBefore");
    cbImport = new QCheckBox("Continue multisession disc", GroupBox3);
    cbImport->setObjectName("cbImport");
    cbCloseDisc = new QCheckBox("Close disc", GroupBox3);
    cbCloseDisc->setObjectName("cbCloseDisc");
    cbCloseDisc->setToolTip("No more data can be written to the media");
    cbEjectDisc = new QCheckBox("Eject disc when done", GroupBox3);
    cbEjectDisc->setObjectName("cbEjectDisc");
    cbVerify = new QCheckBox("Verify disc after backup", GroupBox3);
    cbVerify->setObjectName("cbVerify");
    cbVerify->setToolTip("Read the new session back and check every file");
    auto* layout = new QVBoxLayout(GroupBox3);
    layout->addWidget(Device);
    layout->addWidget(Label1);
    layout->addWidget(EditVolume);
    for (QCheckBox* box : {cbEraseBefore, cbImport, cbCloseDisc, cbEjectDisc, cbVerify})
        layout->addWidget(box);
    layout->addStretch(1);
}

void TForm1::buildStatusBar() {
    StatusBar = new TEnStatusBar(this);
    StatusBar->setObjectName("StatusBar");
    StatusBar->setFixedHeight(kStatusBarHeight);
    StatusBar->SetPanels({{170, "Process"}, {80, ""}, {79, ""}, {136, "Cache"}, {135, "Buffer"}});
    QFont gaugeFont = windowFont();
    gaugeFont.setBold(true);
    const auto gauge = [&](const char* name, const QRect& at) {
        auto* g = new TPmGauge;
        g->setObjectName(name);
        g->SetBorderStyle(TBorderStyle::bsNone);
        g->SetForeColor(kNavy);
        g->setFont(gaugeFont);
        StatusBar->HostChild(g, at);
        return g;
    };
    Gauge = gauge("Gauge", QRect(45, 4, 123, 16));
    GaugeBuf = gauge("GaugeBuf", QRect(369, 4, 94, 16));
    GaugeBuf->setToolTip("Software Cache Buffer 20Mb");
    GaugeCDBuf = gauge("GaugeCDBuf", QRect(502, 4, 96, 16));
    GaugeCDBuf->setToolTip("Hardware CDROM Buffer");
}

void TForm1::wireHandlers() {
    connect(ButtonNew, &QToolButton::clicked, this, &TForm1::ButtonNewClick);
    connect(ButtonOpen, &QToolButton::clicked, this, &TForm1::ButtonOpenClick);
    connect(ButtonSave, &QToolButton::clicked, this, &TForm1::ButtonSaveClick);
    connect(ButtonSaveAs, &QToolButton::clicked, this, &TForm1::ButtonSaveAsClick);
    connect(ButtonErase, &QToolButton::clicked, this, &TForm1::ButtonEraseClick);
    connect(ButtonPrePare, &QToolButton::clicked, this, &TForm1::ButtonPrePareClick);
    connect(ButtonBurn, &QToolButton::clicked, this, &TForm1::ButtonBurnClick);
    connect(ButtonStop, &QToolButton::clicked, this, &TForm1::ButtonStopClick);
    connect(ButtonAbout, &QToolButton::clicked, this, &TForm1::ButtonAboutClick);
    connect(ButtonExit, &QToolButton::clicked, this, &TForm1::ButtonExitClick);
    connect(ButtonAdd, &QToolButton::clicked, this, &TForm1::ButtonAddClick);
    connect(ButtonRemove, &QToolButton::clicked, this, &TForm1::ButtonRemoveClick);
    connect(Device, &QComboBox::activated, this, [this](int) { DeviceChange(); });
    Device->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Device, &QWidget::customContextMenuRequested, this, &TForm1::showDeviceMenu);
}

TWorkflowView TForm1::makeView() {
    TWorkflowView view;
    view.log = [this](const std::string& line, std::uint8_t) { addLogLine(QString::fromStdString(line)); };
    view.discType = [this](const std::string& name) {
        StatusBar->SetPanelText(2, QString::fromStdString(name));
    };
    view.stateChanged = [this](TJobState state) { showState(state); };
    view.progressChanged = [this](const TProgress& progress) { showProgress(progress); };
    view.jobFinished = [this](const TRunReport&) { onJobFinished(); };
    return view;
}

// ---- start ----

void TForm1::FormCreate() {
    setCaption(kTitle);
    for (TPmGauge* g : {Gauge, GaugeBuf, GaugeCDBuf}) {
        QPalette pal = g->palette();
        pal.setColor(QPalette::Window, kSilver);
        g->setPalette(pal);
        g->SetBackColor(kSilver);
    }
    Archives->clear();
    m_appFolder = AppFolderFor(QCoreApplication::applicationDirPath());
    showState(TJobState::Start);
    const bool loaded = m_adapter->ReinitializeDrives();
    Workflow().Start();  // logs "<<< ERROR INITIALIZING ASPI LAYER!" without a transport
    if (!loaded) return;
    fillDevices();
    if (Device->count() == 0) return;
    selectDevice(0);
    DeviceChange();
}

void TForm1::fillDevices() {
    const QSignalBlocker quiet(Device);
    Device->clear();
    for (const std::string& entry : m_adapter->CD().DeviceList)
        Device->addItem(QString::fromStdString(entry));
}

void TForm1::selectDevice(int index) {
    const QSignalBlocker quiet(Device);
    Device->setCurrentIndex(index >= 0 && index < Device->count() ? index : -1);
}

void TForm1::DeviceChange() {
    Workflow().DeviceChange(Device->currentIndex());
}

void TForm1::showDeviceMenu(const QPoint& at) {
    QMenu menu(this);
    QAction* rescan = menu.addAction("Rescan recorders");
    rescan->setEnabled(!Workflow().JobActive());
    addRecorderActions(menu);
    if (menu.exec(Device->mapToGlobal(at)) == rescan) RescanRecorders();
}

void TForm1::RescanRecorders() {
    const QString selected = Device->currentText();
    if (!m_adapter->Rescan()) return;
    fillDevices();
    const int index = Device->findText(selected);
    selectDevice(index >= 0 ? index : 0);
    DeviceChange();
}

// ---- log ----

void TForm1::addLogLine(const QString& line) {
    QString whole = line;
    while (whole.endsWith('\n') || whole.endsWith('\r')) whole.chop(1);
    Log->appendPlainText(whole);
    LogChange();
}

// After every change: one scroll step of one line up (not a scroll to the end).
void TForm1::LogChange() {
    Log->verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
}

// ---- state and values ----

void TForm1::showState(TJobState state) {
    // A Stop kept from the Burn's Prepare is applied as soon as the recording exists: it runs among the
    // pending events that DoBurn lets through before it starts the cache.
    if (state == TJobState::Recording && m_stopAfterPrepare) {
        m_stopAfterPrepare = false;
        QMetaObject::invokeMethod(
            this, [this] { Workflow().ButtonStopClick(); }, Qt::QueuedConnection);
    }
    showControls(ControlStatesFor(state));
}

void TForm1::showControls(const TControlStates& c) {
    GroupBox2->setEnabled(c.groups);
    GroupBox3->setEnabled(c.groups);
    ButtonNew->setEnabled(c.newProfile);
    ButtonOpen->setEnabled(c.open);
    ButtonSave->setEnabled(c.save);
    ButtonSaveAs->setEnabled(c.saveAs);
    ButtonErase->setEnabled(c.erase);
    ButtonPrePare->setEnabled(c.prepare);
    ButtonBurn->setEnabled(c.burn);
    ButtonStop->setEnabled(c.stop);
    ButtonAbout->setEnabled(c.about);
    ButtonExit->setEnabled(c.exit);
}

void TForm1::showProgress(const TProgress& p) {
    Gauge->SetMaxValue(p.process.maxValue);
    Gauge->SetProgress(p.process.position);
    if (!p.erasing && !p.writtenText.empty())
        StatusBar->SetPanelText(1, QString::fromStdString(p.writtenText));
    GaugeBuf->SetProgress(p.cacheFillPercent);
    if (p.driveBufferSize > 0) GaugeCDBuf->SetMaxValue(toGaugeValue(p.driveBufferSize));
    if (p.driveBufferUsed) GaugeCDBuf->SetProgress(toGaugeValue(*p.driveBufferUsed));
}

void TForm1::setCaption(const QString& caption) {
    setWindowTitle(caption);
    QGuiApplication::setApplicationDisplayName(caption);  // the task bar's title follows the caption
}

}  // namespace brenwick
