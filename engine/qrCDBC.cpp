// The burner component: construction and destruction, the cache size rule and the compilation operations,
// which it forwards to the compilation it owns with itself as the events' Sender and its log.
#include "engine/qrCDBC.h"

#include "engine/qrErase.h"
#include "engine/qrISOBurner.h"

namespace brenwick {

// The base class (the drive object) is constructed first, as C++ requires; the rest of the
// creation order follows: metadata stream, empty compilation, cache size, the true defaults.
TQrvBurner::TQrvBurner() {
    wireCompilation();
    ClearCompilation();
    SetCacheSize(kDefaultCacheSize);
    JolietFileSystem = true;
    FinalizeTrack = true;
    UnderrunProtection = true;
}

TQrvBurner::~TQrvBurner() {
    // A recording still running is stopped as the user's Stop would stop it; its closing still runs.
    m_abort = true;
    m_destroying = true;
    joinWriteThread();
    m_retiredWriteThreads.clear();
    m_eraseThread.reset();  // ends its poll and joins it
    m_retiredEraseThreads.clear();
    m_cache.reset();
    m_metadata.clear();
    m_descriptorSet.clear();
}

void TQrvBurner::SetCacheSize(int bytes) {
    if (bytes < kSmallestCacheSize) bytes = kSmallestCacheSize;
    m_cacheSize = bytes - bytes % kSectorBytes;
}

// The compilation reports through the burner's log and raises the burner's events, which the
// application may assign at any time.
void TQrvBurner::wireCompilation() {
    m_compilation.SetSender(this);
    m_compilation.SetLog([this](const std::string& text, std::uint8_t mType) { DebugMessage(text, mType); });
    m_compilation.OnAddFile = [this](TObject* sender, const std::string& fullPath, std::string& longName,
                                     std::string& shortName, TDateTime& dateTime, std::int32_t attr,
                                     std::int64_t size, bool& skip) {
        if (OnAddFile) OnAddFile(sender, fullPath, longName, shortName, dateTime, attr, size, skip);
    };
    m_compilation.OnAddDir = [this](TObject* sender, std::string& longName, std::string& shortName,
                                    bool& skip) {
        if (OnAddDir) OnAddDir(sender, longName, shortName, skip);
    };
}

void TQrvBurner::ClearCompilation() {
    m_metadata.clear();
    m_metadata.shrink_to_fit();
    m_compilation.ClearCompilation();
}

TDEntry* TQrvBurner::ForceDirectory(const std::string& path) {
    return m_compilation.ForceDirectory(path);
}

TDEntry* TQrvBurner::AddNamedDirectory(TDEntry* parent, const std::string& name) {
    return m_compilation.AddNamedDirectory(parent, name);
}

TDEntry* TQrvBurner::AddDirectoryEntry(TDEntry* parent, const TSearchRec& rec) {
    return m_compilation.AddDirectoryEntry(parent, rec);
}

int TQrvBurner::AddFileEntry(TDEntry* directory, const TSearchRec& rec, const std::string& fullPath,
                             std::uint32_t previousExtent) {
    m_compilation.ReplaceFile = ReplaceFile;
    return m_compilation.AddFileEntry(directory, rec, fullPath, previousExtent);
}

int TQrvBurner::AddFile(const std::string& destination, const std::string& source, bool derive) {
    m_compilation.ReplaceFile = ReplaceFile;
    return m_compilation.AddFile(destination, source, derive);
}

int TQrvBurner::AddFolder(const std::string& destination, const std::string& source, bool archiveOnly,
                          bool derive, bool recursive, std::uint32_t attrMask, const std::string& fileMask) {
    m_compilation.ReplaceFile = ReplaceFile;
    return m_compilation.AddFolder(destination, source, archiveOnly, derive, recursive, attrMask, fileMask);
}

int TQrvBurner::AddFolderTo(TDEntry* directory, const std::string& source, bool archiveOnly, bool derive,
                            bool recursive, std::uint32_t attrMask, const std::string& fileMask) {
    m_compilation.ReplaceFile = ReplaceFile;
    return m_compilation.AddFolderTo(directory, source, archiveOnly, derive, recursive, attrMask, fileMask);
}

}  // namespace brenwick
