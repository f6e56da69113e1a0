// Prepare: the drive's part (the disc type, the next writable address) and the file-system part (import,
// layout, the refusals that keep earlier backups readable), which isofs carries out.
#include "drive/qrConst.h"
#include "engine/qrBurnerDisc.h"
#include "engine/qrCDBC.h"
#include "engine/qrGrowth.h"
#include "isofs/qrISOMessages.h"
#include "isofs/qrSessionPrepare.h"

namespace brenwick {

bool TQrvBurner::Prepare(bool imageFile, TDEntry* importTarget) {
    DoDebug = false;
    StartSector = 0;
    ImageSectors = 0;
    m_metadata.clear();
    m_descriptorSet.clear();

    TBurnerDisc disc(*this);
    TPrepareInput input;
    if (!imageFile) {
        // Overwritable discs (DVD-RAM, DVD+RW, restricted-overwrite DVD-RW) are written from sector 0 unless
        // their volume is grown (below); every other disc (CD, DVD-R/-RW, DVD+R) continues at the invisible
        // track's next writable address. An overwritable disc's session starts at 0 whatever the drive
        // reports there.
        const bool overwritable = IsOverwritableProfile(GetCurrentProfile());
        if (overwritable) input.Access = TDiscAccess::Overwritable;
        const TDiscGroup group = DiscGroupOf(GetDiscType());
        const bool fromZero = group == TDiscGroup::DvdRam || group == TDiscGroup::DvdOverwritable;
        if (!overwritable && !fromZero) {
            if (ReadTrackInformation(0xFF)) {
                StartSector = TrackInfo.NextWritableAddress;
            } else {
                DebugMessage(std::string(kIsoMsgErrorNextWritable), kMsgError);
            }
        }
        if (StartSector > 0xF0000000u) StartSector = 0;  // no address (blank media report -150 and the like)
        // Continuing an overwritable disc that holds a volume grows that volume: the new session follows
        // it, and its descriptor set replaces the one at sector 16 once its data are on the disc.
        if (overwritable && SessionToImport != 0) {
            if (const std::uint32_t volume = RecordedVolumeSectors(); volume > 0) {
                // A volume that claims to reach beyond any disc cannot be grown, nor may the new session
                // fall back to sector 0 over it.
                if (volume > kLargestGrownVolume) {
                    DebugMessage(std::string(kIsoMsgImportFailed), kMsgError);
                    DoDebug = true;
                    return false;
                }
                StartSector = GrowthStartSector(volume);
                input.Grow = true;
            }
        }
        // After an interrupted recording the next session starts where completing and closing it leaves
        // the disc's next session, not at the open session's next writable address.
        if (m_interrupted.result == TInterruptedClose::Pending) StartSector = m_interrupted.nextSessionStart;
        input.Disc = &disc;
    }
    input.StartSector = StartSector;
    input.SessionSelector = SessionToImport;
    input.ImportTarget = importTarget;
    input.JolietFileSystem = JolietFileSystem;
    input.Volume = {IdVolume,          IdSystem,      IdVolumeSet,     IdPublisher,
                    IdPreparer,        IdApplication, FileCopyright,   FileAbstract,
                    FileBibliographic, DateCreation,  DateModification};
    m_compilation.ReplaceFile = ReplaceFile;
    TSessionLayout layout;
    const auto log = [this](const std::string& text, std::uint8_t mType) { DebugMessage(text, mType); };
    const TPrepareStatus status = PrepareSession(m_compilation, input, m_metadata, layout, log);
    DoDebug = true;
    if (status != TPrepareStatus::Ok) {
        m_metadata.clear();
        return false;
    }
    ImageSectors = layout.ImageSectors;
    if (input.Grow) m_descriptorSet = DescriptorSet(m_metadata, layout);
    return true;
}

}  // namespace brenwick
