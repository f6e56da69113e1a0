// The image recorder's disc from the window: without a drive, a user puts in another blank disc, closes
// the tray or looks at the disc here, as `brenwick-cli media` does.
#include <QStringList>

#include "app/main/TForm1.h"
#include "drive/qrSPTI.h"
#include "drive/recorder/TImageRecorder.h"
#include "drive/recorder/TRecorderFolder.h"
#include "drive/recorder/TStateFile.h"

namespace brenwick {

namespace {

// The image recorder behind the selected device, or none (a real drive, or no selection).
TImageRecorder* selectedImageRecorder(const TSCSIDevice& cd) {
    for (const TSptiDrive& entry : SptiDriveTable()) {
        if (entry.valid && entry.extra && entry.port == cd.HostAdapter && entry.target == cd.Target &&
            entry.lun == cd.Lun)
            return dynamic_cast<TImageRecorder*>(entry.extra.get());
    }
    return nullptr;
}

}  // namespace

void TForm1::addRecorderActions(QMenu& menu) {
    if (selectedImageRecorder(m_adapter->CD()) == nullptr) return;
    const bool idle = !Workflow().JobActive();
    QMenu* insert = menu.addMenu("Insert blank disc");
    insert->setEnabled(idle);
    for (const TMediaTraits& traits : AllMediaTraits()) {
        if (traits.recording == TRecording::ReadOnly) continue;
        const QString key = QString::fromUtf8(traits.key.data(), qsizetype(traits.key.size()));
        insert->addAction(QString::fromUtf8(traits.display.data(), qsizetype(traits.display.size())), this,
                          [this, key] { InsertBlankDisc(key); });
    }
    menu.addAction("Close tray", this, &TForm1::CloseTray)->setEnabled(idle);
    menu.addAction("Show disc", this, &TForm1::ShowDisc)->setEnabled(idle);
}

// Each change lets the recorder's folder go first: the recorder takes it again, with the new disc, at
// the next command, which then reports a medium change as a drive does.
void TForm1::InsertBlankDisc(const QString& key) {
    TImageRecorder* recorder = selectedImageRecorder(m_adapter->CD());
    const std::optional<TMediaType> media = MediaTypeFromKey(key.toStdString());
    if (recorder == nullptr || !media || Workflow().JobActive()) return;
    recorder->Release();
    std::string kept, error;
    if (!brenwick::InsertBlankDisc(recorder->folder(), *media, kept, error)) {
        addLogLine("<<< CANNOT INSERT A DISC: " + QString::fromStdString(error));
        return;
    }
    const std::string_view display = MediaTraits(*media).display;
    addLogLine("<<< BLANK DISC INSERTED: " +
               QString::fromUtf8(display.data(), qsizetype(display.size())).toUpper());
    if (!kept.empty()) addLogLine("<<< THE PREVIOUS DISC IS KEPT AS " + QString::fromStdString(kept));
}

void TForm1::CloseTray() {
    TImageRecorder* recorder = selectedImageRecorder(m_adapter->CD());
    if (recorder == nullptr || Workflow().JobActive()) return;
    recorder->Release();
    std::string error;
    if (!SetTrayOpen(recorder->folder(), false, error))
        addLogLine("<<< CANNOT CLOSE THE TRAY: " + QString::fromStdString(error));
}

void TForm1::ShowDisc() {
    TImageRecorder* recorder = selectedImageRecorder(m_adapter->CD());
    if (recorder == nullptr || Workflow().JobActive()) return;
    recorder->Release();
    TRecorderState state;
    std::string error;
    if (!LoadStateFile(recorder->folder(), state, error)) {
        addLogLine("<<< CANNOT READ THE RECORDER: " + QString::fromStdString(error));
        return;
    }
    addLogLine("<<< RECORDER " + QString::fromStdString(recorder->folder()));
    const QString text = QString::fromStdString(DescribeDisc(state, recorder->folder()));
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) addLogLine("<<< " + line);
}

}  // namespace brenwick
