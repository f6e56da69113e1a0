// Prepare: where the new session starts on the disc, the import of the previous session, and the layout
// with its metadata stream. Refuses to go on where recording would hide or destroy earlier backups.
#include "drive/qrConst.h"
#include "engine/qrBurnerDisc.h"
#include "engine/qrCDBC.h"
#include "isofs/qrISOLayout.h"
#include "isofs/qrISOMessages.h"
#include "isofs/qrSessionImport.h"

namespace brenwick {

namespace {

// A next writable address above this is no address (drives report -150 and similar on blank media).
constexpr std::uint32_t kHighestStartSector = 0xF0000000u;

}  // namespace

bool TQrvBurner::Prepare(bool imageFile, TDEntry* importTarget) {
    DoDebug = false;
    StartSector = 0;
    ImageSectors = 0;
    m_metadata.clear();
    const auto refuse = [this](std::string_view text) {
        DebugMessage(std::string(text), kMsgError);
        m_metadata.clear();
        ImageSectors = 0;
        DoDebug = true;
        return false;
    };
    const auto log = [this](const std::string& text, std::uint8_t mType) { DebugMessage(text, mType); };

    if (!imageFile) {
        // Sequential DVD media are written from sector 0 here; every other disc continues at the invisible
        // track's next writable address.
        const int discType = GetDiscType();
        if (discType < kDiscDvdR || discType > kDiscDvdPlusRw) {
            if (ReadTrackInformation(0xFF)) {
                StartSector = TrackInfo.NextWritableAddress;
            } else {
                DebugMessage(std::string(kIsoMsgErrorNextWritable), kMsgError);
            }
        }
        if (StartSector > kHighestStartSector) StartSector = 0;

        if (SessionToImport != 0) {
            // A reader shows only the last session: a new session that does not list the earlier files
            // would hide every earlier backup, so a disc whose session cannot be imported is not continued.
            TBurnerDisc disc(*this);
            m_compilation.ReplaceFile = ReplaceFile;
            TSessionImport import(m_compilation, disc, log);
            const auto session = static_cast<std::uint8_t>(SessionToImport & 0xFF);
            const bool imported = import.ImportSession(session, importTarget);
            if (disc.sessionCount() > 0 && (!imported || import.Fault() != TImportFault::None)) {
                return refuse(kIsoMsgImportFailed);
            }
        }
    }

    TVolumeInfo volume;
    volume.IdVolume = IdVolume;
    volume.IdSystem = IdSystem;
    volume.IdVolumeSet = IdVolumeSet;
    volume.IdPublisher = IdPublisher;
    volume.IdPreparer = IdPreparer;
    volume.IdApplication = IdApplication;
    volume.FileCopyright = FileCopyright;
    volume.FileAbstract = FileAbstract;
    volume.FileBibliographic = FileBibliographic;
    volume.DateCreation = DateCreation;
    volume.DateModification = DateModification;
    TSessionLayout layout;
    if (LayoutSession(m_compilation, StartSector, JolietFileSystem, volume, m_metadata, layout) !=
        TLayoutStatus::Ok) {
        return refuse(kIsoMsgSessionTooLarge);
    }
    // On media written from sector 0 the new session would land on the imported files' data.
    if (ImportedDataOverlaps(m_compilation, layout)) return refuse(kIsoMsgWouldOverwrite);
    ImageSectors = layout.ImageSectors;
    DoDebug = true;
    return true;
}

}  // namespace brenwick
