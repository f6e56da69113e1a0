#include "app/main/TForm2.h"

#include <QApplication>
#include <QFileInfo>
#include <QScreen>
#include <QSet>
#include <QStyle>
#include <QVBoxLayout>

#include "explorer/NvListLogic.h"

namespace brenwick {

TForm2::TForm2(QListWidget* archives, TNvShell shell) : QWidget(nullptr, Qt::Window), m_archives(archives) {
    setAttribute(Qt::WA_QuitOnClose, false);  // the program ends when the main window closes
    QFont font = QApplication::font();
    font.setPointSize(8);
    setFont(font);
    buildToolBar();
    Panel1 = new QWidget;
    Panel1->setFixedHeight(26);
    Label1 = new QLabel(Panel1);
    auto* strip = new QHBoxLayout(Panel1);
    strip->setContentsMargins(6, 0, 6, 0);
    strip->addWidget(Label1);
    NvDirTree211 = new TNvDirTree21(nullptr, shell);
    NvDirTree211->PopUpMenuEnabled = false;
    NvDirTree211->setIndentation(19);
    NvFilelistView281 = new TNvFilelistView28(nullptr, shell);
    NvFilelistView281->ParentDirEnabled = false;
    NvFilelistView281->ParentDirCaption = " Up";
    NvFilelistView281->PopUpMenuEnabled = false;
    NvFilelistView281->SetReadOnly(true);
    NvFilelistView281->SetColumnWidths(165, 75, 95, 125, 60);
    NvFilelistView281->SetViewStyle(TNvViewStyle::vsReport);
    NvDirTree211->SetFileList(NvFilelistView281);
    Splitter1 = new QSplitter;
    Splitter1->setHandleWidth(2);
    Splitter1->addWidget(NvDirTree211);
    Splitter1->addWidget(NvFilelistView281);
    Splitter1->setStretchFactor(1, 1);
    Splitter1->setSizes({205, 415});
    StatusBar1 = new TEnStatusBar;
    StatusBar1->SetPanels({{220, {}}, {370, {}}});
    StatusBar1->setFixedHeight(20);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (QWidget* w : std::initializer_list<QWidget*>{ToolBar1, Panel1, Splitter1, StatusBar1})
        layout->addWidget(w);
    layout->setStretch(2, 1);
    resize(620, 422);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    wireHandlers();
    FormCreate();
}

QToolButton* TForm2::addButton(const QString& hint, int icon, bool checkable) {
    auto* b = new QToolButton;
    b->setIcon(style()->standardIcon(QStyle::StandardPixmap(icon)));
    b->setText(hint);
    b->setToolTip(hint);
    b->setCheckable(checkable);
    b->setAutoRaise(true);
    b->setToolButtonStyle(Qt::ToolButtonIconOnly);
    ToolBar1->addWidget(b);
    return b;
}

void TForm2::buildToolBar() {
    ToolBar1 = new QToolBar;
    ToolBar1->setIconSize(QSize(24, 24));
    BtnViewLarge = addButton("Large Icons", QStyle::SP_FileDialogContentsView, true);
    BtnViewSmall = addButton("Small Icons", QStyle::SP_FileDialogListView, true);
    BtnViewList = addButton("List", QStyle::SP_FileDialogListView, true);
    BtnViewDetails = addButton("Details", QStyle::SP_FileDialogDetailedView, true);
    m_viewGroup = new QButtonGroup(this);
    for (QToolButton* b : {BtnViewLarge, BtnViewSmall, BtnViewList, BtnViewDetails})
        m_viewGroup->addButton(b);
    BtnViewDetails->setChecked(true);
    ToolBar1->addSeparator();
    BtnShowFolderTree = addButton("Show Folder Tree", QStyle::SP_DirOpenIcon, true);
    BtnShowFolderTree->setChecked(true);
    ToolBar1->addSeparator();
    BtnProperties = addButton("Properties", QStyle::SP_FileDialogInfoView, false);
    BtnSelectAll = addButton("Select All", QStyle::SP_DialogYesButton, false);
    BtnRefresh = addButton("Refresh", QStyle::SP_BrowserReload, false);
    BtnUp = addButton("Up One Level", QStyle::SP_FileDialogToParent, false);
    ToolBar1->addSeparator();
    BtnAdd = addButton("Add Files/Folders to Backup List", QStyle::SP_DialogOkButton, false);
}

void TForm2::wireHandlers() {
    connect(BtnViewLarge, &QToolButton::clicked, this, &TForm2::BtnViewLargeClick);
    connect(BtnViewSmall, &QToolButton::clicked, this, &TForm2::BtnViewSmallClick);
    connect(BtnViewList, &QToolButton::clicked, this, &TForm2::BtnViewListClick);
    connect(BtnViewDetails, &QToolButton::clicked, this, &TForm2::BtnViewDetailsClick);
    connect(BtnShowFolderTree, &QToolButton::clicked, this, &TForm2::BtnShowFolderTreeClick);
    connect(BtnProperties, &QToolButton::clicked, this, &TForm2::BtnPropertiesClick);
    connect(BtnSelectAll, &QToolButton::clicked, this, &TForm2::BtnSelectAllClick);
    connect(BtnRefresh, &QToolButton::clicked, this, &TForm2::BtnRefreshClick);
    connect(BtnUp, &QToolButton::clicked, this, &TForm2::BtnUpClick);
    connect(BtnAdd, &QToolButton::clicked, this, &TForm2::BtnAddClick);
    connect(NvDirTree211, &TNvDirTree21::OnDirChange, this, [this] { GetStatistics(); });
    connect(NvDirTree211, &TNvDirTree21::KeyUp, this, &TForm2::keyUp);
    connect(NvFilelistView281, &TNvFilelistView28::KeyUp, this, &TForm2::keyUp);
    const auto onMouseUp = [this](Qt::MouseButton button) {
        if (button == Qt::LeftButton) GetStatistics();
    };
    connect(NvDirTree211, &TNvDirTree21::MouseUp, this, onMouseUp);
    connect(NvFilelistView281, &TNvFilelistView28::MouseUp, this, onMouseUp);
}

void TForm2::keyUp(int key) {
    // Only the keys that move through the entries or up a folder refresh the statistics.
    if (key == Qt::Key_Backspace || key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_PageUp ||
        key == Qt::Key_PageDown)
        GetStatistics();
}

void TForm2::FormCreate() {
    setWindowTitle("Brenwick - Add files or folders to archives");
    ShowFolder(QString());
    Label1->setText("Choose files or folders and then click add button");
}

void TForm2::ShowFolder(const QString& path) {
    NvDirTree211->OpenPath(path);
    NvFilelistView281->SetDirectory(NvDirTree211->SelectedPath());
    NvFilelistView281->UpdateFileList();
    GetStatistics();
}

void TForm2::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    StatusBar1->update();
}

void TForm2::BtnViewLargeClick() {
    NvFilelistView281->SetViewStyle(TNvViewStyle::vsIcon);
    BtnViewLarge->setChecked(true);
}
void TForm2::BtnViewSmallClick() {
    NvFilelistView281->SetViewStyle(TNvViewStyle::vsSmallIcon);
    BtnViewSmall->setChecked(true);
}
void TForm2::BtnViewListClick() {
    NvFilelistView281->SetViewStyle(TNvViewStyle::vsList);
    BtnViewList->setChecked(true);
}
void TForm2::BtnViewDetailsClick() {
    NvFilelistView281->SetViewStyle(TNvViewStyle::vsReport);
    BtnViewDetails->setChecked(true);
}

void TForm2::BtnShowFolderTreeClick() {
    const bool docked = NvDirTree211->isVisibleTo(this);
    NvDirTree211->setVisible(!docked);  // undocked, the list takes the whole width
    BtnShowFolderTree->setChecked(!docked);
}

void TForm2::BtnPropertiesClick() {
    if (NvFilelistView281->AnySelected()) NvFilelistView281->ShowProperties();
}

void TForm2::BtnSelectAllClick() {
    NvFilelistView281->SelectAll();
}

void TForm2::BtnRefreshClick() {
    NvDirTree211->Reload();
    NvDirTree211->OpenPath(NvFilelistView281->Directory());
    NvFilelistView281->UpdateFileList();
    GetStatistics();
}

void TForm2::BtnUpClick() {
    NvFilelistView281->OneLevelUp();
}

void TForm2::BtnAddClick() {
    QSet<QString> present;
    for (int i = 0; i < m_archives->count(); ++i) present.insert(m_archives->item(i)->text());
    const QList<int> rows = NvFilelistView281->SelectedRows();
    for (int row : rows) {
        QString entry = NvFilelistView281->SubItem(row, 4);
        // A folder ends in one "/" (a drive's root has it already).
        if (QFileInfo(entry).isDir() && !entry.endsWith('/')) entry += '/';
        if (present.contains(entry)) continue;  // exact text, case and all; entries of this click included
        present.insert(entry);
        m_archives->addItem(entry);
    }
    Label1->setText(QString("%1 object(s) added to archives").arg(rows.size()));
}

void TForm2::GetStatistics() {
    const TNvFilelistView28* list = NvFilelistView281;
    const QString freeMb = QString::fromStdString(FreeMbText(std::uint64_t(list->DriveFreeSpace())));
    if (list->AnySelected()) {
        StatusBar1->SetPanelText(
            0, QString("%1 object(s)  --  %2  selected ").arg(list->ItemCount()).arg(list->SelectedNumber()));
        StatusBar1->SetPanelText(
            1, " Selected Size = " +
                   QString::fromStdString(SelectedKbText(std::uint64_t(list->SelectedSize()))) +
                   " (Disk free space: " + freeMb + ")");
    } else {
        StatusBar1->SetPanelText(0, QString("%1 object(s)").arg(list->ItemCount()));
        StatusBar1->SetPanelText(1, " Selected Size = 0 KB  ( Disk free space: " + freeMb + " )");
    }
}

}  // namespace brenwick
