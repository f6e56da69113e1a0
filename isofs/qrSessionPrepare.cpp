// The file-system part of Prepare (see qrSessionPrepare.h).
#include "isofs/qrSessionPrepare.h"

#include <string>

#include "isofs/qrISOMessages.h"
#include "isofs/qrSessionImport.h"

namespace brenwick {

TPrepareStatus PrepareSession(TCompilation& compilation, const TPrepareInput& input, TMetadataStream& stream,
                              TSessionLayout& layout, const TLogFn& log) {
    auto report = [&log](std::string_view text) {
        if (log) log(std::string(text), kMsgError);
    };
    const std::uint32_t start = input.StartSector > 0xF0000000u ? 0 : input.StartSector;
    if (input.Disc != nullptr && input.SessionSelector != 0) {
        TSessionImport import(compilation, *input.Disc, log);
        const auto session = static_cast<std::uint8_t>(input.SessionSelector & 0xFF);
        (void)import.ImportSession(session, input.ImportTarget);  // judged by its fault below
        // A reader shows only the newest session: one that does not list the earlier files hides them.
        // A blank overwritable disc still reports one session; with no volume descriptor recorded there
        // is nothing to hide, and the backup goes on without an import.
        const bool neverRecorded =
            input.Access == TDiscAccess::Overwritable && import.Fault() == TImportFault::NoVolume;
        if (import.Fault() != TImportFault::None && !neverRecorded && input.Disc->sessionCount() > 0) {
            report(kIsoMsgImportFailed);
            return TPrepareStatus::ImportFailed;
        }
    }
    TMetadataStream metadata;
    TLayoutOptions options;
    options.wholeVolume = input.Grow;
    options.primaryCopy = input.Access != TDiscAccess::Overwritable;
    if (LayoutSession(compilation, start, input.JolietFileSystem, input.Volume, metadata, layout, options) !=
        TLayoutStatus::Ok) {
        report(kIsoMsgSessionTooLarge);
        return TPrepareStatus::TooLarge;
    }
    if (ImportedDataOverlaps(compilation, layout)) {
        report(kIsoMsgWouldOverwrite);
        return TPrepareStatus::WouldOverwrite;
    }
    if (stream.empty()) {
        stream = std::move(metadata);
    } else {
        stream.insert(stream.end(), metadata.begin(), metadata.end());
    }
    return TPrepareStatus::Ok;
}

}  // namespace brenwick
