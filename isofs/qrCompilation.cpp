// The compilation tree (see qrCompilation.h). Lookups go through hash indexes and the child-list sort is a
// keyed sort, so that building the largest tree the limits allow stays near-linear while giving exactly the
// results of the first-match lookups and of the insertion sort.
#include "isofs/qrCompilation.h"

#include <algorithm>
#include <ctime>

#include "isofs/qrISODate.h"
#include "isofs/qrISOMessages.h"
#include "isofs/qrISONames.h"
#include "isofs/qrManifest.h"

namespace brenwick {

namespace {

constexpr std::int64_t kFourGiB = std::int64_t{1} << 32;

std::string DiscFolderOf(const std::string& linuxPath) {
    std::string out = linuxPath;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

// A file's names are bound with room for a ";1" version in both trees (the ISO 9660 record carries it), so
// that the names accepted do not depend on the tree.
bool NameTooLong(const std::string& longName, const std::string& shortName, bool isFile) {
    const std::size_t version = isFile ? 2 : 0;
    return CharCount(longName) >= kLongNameSkipChars || Utf16Length(longName) + version > kMaxJolietUnits ||
           shortName.size() + version > kMaxIsoIdentifierBytes;
}

// A source name as a component of a directory's Path: a "\\" in it is written "/", which no Linux name
// holds, as the destination paths of the workflow carry it.
std::string AskedName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
}

}  // namespace

TCompilation::TCompilation(TObject* sender, TLogFn log)
    : m_sender(sender), m_log(std::move(log)), m_now(&NowAsDosDateTime) {
    ClearCompilation();
}

void TCompilation::log(const std::string& text, std::uint8_t mType) const {
    if (m_log) m_log(text, mType);
}

void TCompilation::refuseAtLimit(std::string_view pattern, int limit) {
    ++m_leftOutCount;
    log(FormatMessage(pattern, std::to_string(limit)), kMsgLimit);
}

void TCompilation::ClearCompilation() {
    tzset();
    // Standard time only: daylight saving is not applied to the offset of the disc dates.
    m_timeZoneOffset = static_cast<std::int8_t>((-timezone / 60) / 15);
    m_dirs.clear();
    m_files.clear();
    m_isoOrder.clear();
    m_jolietOrder.clear();
    m_index.clear();
    m_byPath.clear();
    m_dirStore.clear();
    m_fileStore.clear();
    m_leftOutCount = 0;
    m_manifest = nullptr;
    m_manifestFolder = nullptr;

    TDEntry* root = newDirectory();
    root->Path.assign(1, '\\');
    root->ShortName.assign("CD_ROOT");
    root->LongName.assign("CD Root Directory");
    root->Parent = root;
}

TDEntry* TCompilation::newDirectory() {
    TDEntry& d = m_dirStore.emplace_back();
    d.Index = static_cast<std::uint32_t>(m_dirs.size());
    m_dirs.push_back(&d);
    m_index.emplace_back();
    return &d;
}

TFEntry* TCompilation::newFile() {
    TFEntry& f = m_fileStore.emplace_back();
    m_files.push_back(&f);
    return &f;
}

void TCompilation::append(TDEntry* directory, TFEntry* entry) {
    if (directory->LastEntry != nullptr) {
        directory->LastEntry->Next = entry;
    } else {
        directory->Entries = entry;
    }
    directory->LastEntry = entry;
}

void TCompilation::ReportLeftOut(const std::string& path, TLeftOutReason reason) {
    ++m_leftOutCount;
    log(FormatMessage(kIsoMsgNotBackedUp, path, LeftOutReasonText(reason)), kMsgLimit);
}

std::string TCompilation::discPath(const TDEntry* directory, const std::string& name) const {
    std::string path = directory->Path == "\\" ? std::string() : directory->Path;
    path.append(1, '\\').append(name);
    return path;
}

TDEntry* TCompilation::FindDirectory(const std::string& path) const {
    if (path.empty() || path == "\\") return Root();
    std::string key = path;
    if (key.back() == '\\') key.pop_back();
    const auto it = m_byPath.find(key);
    return it == m_byPath.end() ? nullptr : it->second;
}

TDEntry* TCompilation::ForceDirectory(const std::string& path) {
    if (TDEntry* found = FindDirectory(path)) return found;
    const auto at = path.rfind('\\');
    const std::string parentPath = at == std::string::npos ? std::string() : path.substr(0, at);
    const std::string name = at == std::string::npos ? path : path.substr(at + 1);
    TDEntry* parent = FindDirectory(parentPath);
    if (parent == nullptr) parent = ForceDirectory(parentPath);
    if (parent == nullptr) return nullptr;
    if (name.empty()) return parent;
    return AddNamedDirectory(parent, name);
}

TDEntry* TCompilation::AddNamedDirectory(TDEntry* parent, const std::string& name) {
    std::string n = name;
    if (!n.empty() && n.front() == '\\') n.erase(0, 1);
    if (!n.empty() && n.back() == '\\') n.pop_back();
    TSearchRec rec;
    rec.Name = SafeDiscName(n);
    rec.FileName = n;
    rec.AlternateName = ThirteenCharName(rec.Name);
    rec.Attr = FILE_ATTRIBUTE_DIRECTORY;
    rec.DateTime = m_now();
    return AddDirectoryEntry(parent, rec);
}

TDEntry* TCompilation::AddDirectoryEntry(TDEntry* parent, const TSearchRec& rec,
                                         const std::string& sourcePath, bool nameAsRead) {
    if (parent == nullptr) return nullptr;
    // The directory is looked up by the name it was asked for, its source name, with a "\\" in it written
    // as "/" (as destination paths carry it), so that it does not split the path.
    const std::string asked = AskedName(rec.FileName.empty() ? rec.Name : rec.FileName);
    // A component "." or ".." would let a restore write outside its target; "\\" would split the name.
    for (const std::string* n : {&rec.Name, &asked}) {
        if (n->empty() || *n == "." || *n == ".." || n->find('\\') != std::string::npos) return nullptr;
    }
    std::string path = parent->Path + "\\" + asked;
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') path.erase(0, 1);
    if (const auto it = m_byPath.find(path); it != m_byPath.end()) return it->second;

    const std::string shortName = rec.AlternateName.empty() ? UpperAscii(rec.Name) : rec.AlternateName;
    const std::string longName = nameAsRead ? rec.Name : freeLongName(parent, rec.Name, false);
    if (NameTooLong(longName, shortName, false)) {
        ReportLeftOut(sourcePath.empty() ? path : sourcePath, TLeftOutReason::NameTooLong);
        return nullptr;
    }
    if (DirectoryCount() >= kMaxDirectories) {
        refuseAtLimit(kIsoMsgMaxDirectories, kMaxDirectories);
        return nullptr;
    }
    if (EntryCount() >= kMaxFileEntries) {
        refuseAtLimit(kIsoMsgMaxFiles, kMaxFileEntries);
        return nullptr;
    }
    TDEntry* d = newDirectory();
    TFEntry* f = newFile();
    append(parent, f);
    f->ShortName = uniqueShortName(parent, shortName, longName, false);
    f->LongName = longName;
    f->Attr = rec.Attr | FILE_ATTRIBUTE_DIRECTORY;
    f->DirLink = d;
    f->DateTime = rec.DateTime;
    d->ShortName = f->ShortName;
    d->LongName = longName;
    d->Parent = parent;
    d->Path = std::move(path);
    d->Level = parent->Level + 1;
    m_byPath.emplace(d->Path, d);
    indexShortName(parent, f);
    m_index[parent->Index].byLong.try_emplace(f->LongName, f);
    if (longName != asked) {
        if (sourcePath.empty()) {
            d->RenamePending = true;
        } else {
            reportRenamed(sourcePath, longName);
        }
    }
    return d;
}

void TCompilation::reportRenamed(const std::string& sourcePath, const std::string& discName) const {
    log(FormatMessage(kIsoMsgRenamedOnDisc, sourcePath, discName), kMsgInfo);
}

void TCompilation::reportRenamedFolders(TDEntry* directory, std::string folder) {
    while (!folder.empty() && folder.back() == '/') folder.pop_back();
    for (TDEntry* d = directory; d != Root() && !folder.empty(); d = d->Parent) {
        const auto slash = folder.rfind('/');
        if (slash == std::string::npos ||
            AskedName(folder.substr(slash + 1)) != d->Path.substr(d->Path.rfind('\\') + 1))
            return;  // the disc path no longer mirrors the source path
        if (d->RenamePending) {
            reportRenamed(folder, d->LongName);
            d->RenamePending = false;
        }
        folder.resize(slash);
    }
}

std::string TCompilation::freeLongName(TDEntry* directory, const std::string& wanted, bool isFile) {
    TDirIndex& idx = m_index[directory->Index];
    if (Utf16Length(wanted) <= kMaxDiscNameUnits && idx.byLong.find(wanted) == idx.byLong.end())
        return wanted;
    // As for short names: every tail below the counter is taken, so the first free one from there is the
    // smallest.
    unsigned& n = idx.nextLongTail.try_emplace(wanted, 1).first->second;
    for (;; ++n) {
        std::string candidate = TailedDiscName(wanted, n, isFile);
        if (idx.byLong.find(candidate) == idx.byLong.end()) {
            ++n;
            return candidate;
        }
    }
}

TFEntry* TCompilation::AddManifest(TDEntry* folder, TDateTime dateTime) {
    if (folder == nullptr) return nullptr;
    if (EntryCount() >= kMaxFileEntries) {
        refuseAtLimit(kIsoMsgMaxFiles, kMaxFileEntries);
        return nullptr;
    }
    const std::string name(kManifestName);
    TFEntry* e = newFile();
    append(folder, e);
    e->LongName = freeLongName(folder, name, true);
    e->ShortName = uniqueShortName(folder, std::string(kManifestShortName), e->LongName, true);
    e->Attr = FILE_ATTRIBUTE_ARCHIVE;
    e->DateTime = dateTime;
    e->Generated = true;
    indexShortName(folder, e);
    m_index[folder->Index].byLong.try_emplace(e->LongName, e);
    m_manifest = e;
    m_manifestFolder = folder;
    SortEntries(folder);
    return e;
}

TFEntry* TCompilation::FindSource(const TDEntry* directory, const std::string& sourcePath) const {
    if (directory == nullptr) return nullptr;
    const auto& bySource = m_index[directory->Index].bySource;
    const auto it = bySource.find(sourcePath);
    return it == bySource.end() ? nullptr : it->second;
}

TFEntry* TCompilation::FindEntry(const TDEntry* directory, const std::string& name) const {
    if (directory == nullptr) return nullptr;
    const auto& byLong = m_index[directory->Index].byLong;
    const auto it = byLong.find(name);
    return it == byLong.end() ? nullptr : it->second;
}

std::string TCompilation::uniqueShortName(TDEntry* directory, const std::string& wanted,
                                          const std::string& longName, bool isFile) {
    TDirIndex& idx = m_index[directory->Index];
    const auto it = idx.byShort.find(wanted);
    if (it == idx.byShort.end() || it->second->LongName == longName) return wanted;
    // Names only ever join an index, so every tail below the counter is taken: the first free one found
    // from there is the smallest.
    unsigned& n = idx.nextTail.try_emplace(wanted, 1).first->second;
    for (;; ++n) {
        std::string candidate = WithNumericTail(wanted, n, isFile);
        if (idx.byShort.find(candidate) == idx.byShort.end()) {
            ++n;
            return candidate;
        }
    }
}

void TCompilation::indexShortName(TDEntry* directory, TFEntry* entry) {
    m_index[directory->Index].byShort.try_emplace(entry->ShortName, entry);
}

void TCompilation::unindexShortName(TDEntry* directory, TFEntry* entry) {
    auto& byShort = m_index[directory->Index].byShort;
    const auto it = byShort.find(entry->ShortName);
    if (it != byShort.end() && it->second == entry) byShort.erase(it);
}

int TCompilation::AddFileEntry(TDEntry* directory, const TSearchRec& rec, const std::string& fullPath,
                               std::uint32_t previousExtent) {
    if (directory == nullptr || (rec.Attr & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
    std::string shortName = rec.AlternateName.empty() ? UpperAscii(rec.Name) : rec.AlternateName;
    // The ISO 9660 name of a file always holds a "."; the Joliet name is the name as it is.
    if (shortName.find('.') == std::string::npos) shortName += '.';
    const bool fromDisc = fullPath.empty();  // imported: its name stays as read
    // The same source (under whatever name it was stored) or an imported name met again is a duplicate:
    // the first entry stays, or is overwritten with ReplaceFile. Another source that lands on the same
    // disc name is kept under a name of its own, unless ReplaceFile asks to overwrite by name.
    TFEntry* existing = fromDisc ? nullptr : FindSource(directory, fullPath);
    if (existing == nullptr) {
        TFEntry* named = FindEntry(directory, rec.Name);
        if (named != nullptr && (fromDisc || (ReplaceFile && !named->isDirectory()))) existing = named;
    }
    const bool replace = existing != nullptr && !existing->isDirectory() && ReplaceFile;
    if (existing != nullptr && !replace) return 0;
    std::string longName =
        replace ? existing->LongName : (fromDisc ? rec.Name : freeLongName(directory, rec.Name, true));
    const std::string where = fromDisc ? discPath(directory, longName) : fullPath;

    if (rec.Size >= kFourGiB || rec.Size < 0) {
        ReportLeftOut(where, TLeftOutReason::TooLarge);
        return 0;
    }
    TDateTime dateTime = rec.DateTime;
    bool skip = NameTooLong(longName, shortName, true);
    const bool presetSkip = skip;
    const std::string offered = longName;
    if (OnAddFile) {
        OnAddFile(m_sender, fullPath, longName, shortName, dateTime, static_cast<std::int32_t>(rec.Attr),
                  rec.Size, skip);
    }
    if (skip) {
        if (presetSkip) ReportLeftOut(where, TLeftOutReason::NameTooLong);
        return 0;
    }
    shortName = UpperAscii(shortName);
    // A name no directory record can hold is never written, whatever the handler decided.
    if (longName.empty() || NameTooLong(longName, shortName, true)) {
        ReportLeftOut(where, TLeftOutReason::NameTooLong);
        return 0;
    }
    // A name the handler changed must not give the directory two entries of one long name: the entry
    // already there stays, as for any duplicate.
    if (longName != offered) {
        if (TFEntry* clash = FindEntry(directory, longName);
            clash != nullptr && clash != (replace ? existing : nullptr))
            return 0;
    }

    TFEntry* e = nullptr;
    if (replace) {
        e = existing;
        unindexShortName(directory, e);
        auto& byLong = m_index[directory->Index].byLong;
        if (const auto it = byLong.find(e->LongName); it != byLong.end() && it->second == e) byLong.erase(it);
        auto& bySource = m_index[directory->Index].bySource;
        if (const auto it = bySource.find(e->SourcePath); it != bySource.end() && it->second == e)
            bySource.erase(it);
    } else {
        if (EntryCount() >= kMaxFileEntries) {
            refuseAtLimit(kIsoMsgMaxFiles, kMaxFileEntries);
            return 0;
        }
        e = newFile();
        append(directory, e);
    }
    e->ShortName = uniqueShortName(directory, shortName, longName, true);
    e->LongName = longName;
    e->Size = static_cast<std::uint32_t>(rec.Size);
    e->JolietSize = e->Size;
    e->Attr = rec.Attr;
    e->DateTime = dateTime;
    e->SourcePath = fullPath;
    e->Imported = previousExtent != 0;
    e->IsoExtent = previousExtent;
    e->JolietExtent = previousExtent;
    indexShortName(directory, e);
    m_index[directory->Index].byLong.try_emplace(e->LongName, e);
    if (!e->SourcePath.empty()) m_index[directory->Index].bySource.try_emplace(e->SourcePath, e);
    const std::string& sourceName = rec.FileName.empty() ? rec.Name : rec.FileName;
    if (!fromDisc && longName != sourceName) reportRenamed(fullPath, longName);
    return 1;
}

int TCompilation::AddFile(const std::string& destination, const std::string& source, bool derive) {
    std::string dest = destination;
    if (derive) {
        const auto slash = source.rfind('/');
        dest = DiscFolderOf(slash == std::string::npos ? std::string("/") : source.substr(0, slash + 1));
        (void)ForceDirectory(dest);  // a refusal shows as the lookup below failing
    }
    TDEntry* directory = FindDirectory(dest);
    if (directory == nullptr) {
        log(std::string(kIsoMsgInvalidDestination), kMsgProgress);
        return 0;
    }
    TSearchRec rec;
    TLeftOutReason reason = TLeftOutReason::CannotRead;
    switch (FindFile(source, rec, reason)) {
        case TFindFile::Missing:
            return -1;
        case TFindFile::LeftOut:
            ReportLeftOut(source, reason);
            return 1;
        case TFindFile::Found:
            break;
    }
    reportRenamedFolders(directory, source.substr(0, source.rfind('/') + 1));
    (void)AddFileEntry(directory, rec, source, 0);  // stored or not, the source exists
    return 1;
}

int TCompilation::AddFolder(const std::string& destination, const std::string& source, bool archiveOnly,
                            bool derive, bool recursive, std::uint32_t attrMask,
                            const std::string& fileMask) {
    TDEntry* directory = FindDirectory(destination);
    if (directory == nullptr) {
        log(std::string(kIsoMsgInvalidDestination), kMsgProgress);
        return 0;
    }
    return AddFolderTo(directory, source, archiveOnly, derive, recursive, attrMask, fileMask);
}

int TCompilation::AddFolderTo(TDEntry* directory, const std::string& source, bool archiveOnly, bool derive,
                              bool recursive, std::uint32_t attrMask, const std::string& fileMask) {
    TDEntry* target = directory;
    if (derive) {
        const std::string path = DiscFolderOf(source);
        (void)ForceDirectory(path);  // a refusal shows as the lookup below failing
        target = FindDirectory(path);
        if (target == nullptr) {
            log(std::string(kIsoMsgInvalidDestination), kMsgProgress);
            return 0;
        }
    }
    if (target == nullptr) return 0;
    std::string folder = source;
    if (folder.empty() || folder.back() != '/') folder += '/';
    const std::string mask = fileMask.empty() ? "*.*" : fileMask;
    reportRenamedFolders(target, folder);
    return addFolderItems(target, folder, archiveOnly, recursive, attrMask, mask, 0);
}

int TCompilation::addFolderItems(TDEntry* target, const std::string& source, bool archiveOnly, bool recursive,
                                 std::uint32_t attrMask, const std::string& fileMask, int level) {
    TFileSearch search;
    if (!search.ReadFolder(source)) {
        ReportLeftOut(source, TLeftOutReason::CannotRead);
        return 0;
    }
    for (const TLeftOut& left : search.LeftOut()) {
        const bool relevant = left.Reason == TLeftOutReason::LinkToFolder
                                  ? recursive
                                  : MatchesMask(left.Path.substr(left.Path.rfind('/') + 1), fileMask);
        if (relevant) ReportLeftOut(left.Path, left.Reason);
    }
    int result = 0;
    if (recursive) {
        for (const TSearchRec& item : search.Items()) {
            if ((item.Attr & FILE_ATTRIBUTE_DIRECTORY) == 0) continue;
            TSearchRec rec = item;
            rec.AlternateName = item.AlternateName.empty() ? UpperAscii(item.Name) : item.AlternateName;
            bool skip = false;
            if (OnAddDir) OnAddDir(m_sender, rec.Name, rec.AlternateName, skip);
            if (skip) continue;
            TDEntry* sub = AddDirectoryEntry(target, rec, source + item.FileName);
            if (sub == nullptr) continue;  // limits and refusals are reported there
            const int r = addFolderItems(sub, source + item.FileName + "/", archiveOnly, recursive, attrMask,
                                         fileMask, level + 1);
            if (r != 0) result = r;
        }
    }
    for (const TSearchRec& item : search.Items()) {
        if ((item.Attr & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
        if (archiveOnly && (item.Attr & FILE_ATTRIBUTE_ARCHIVE) == 0) continue;
        if (!MatchesMask(item.Name, fileMask)) continue;
        result = AddFileEntry(target, item, source + item.FileName, 0);
    }
    SortEntries(target);
    return result;
}

void TCompilation::SortEntries(TDEntry* directory) {
    std::vector<std::pair<TFEntry*, std::size_t>> list;
    for (TFEntry* f = directory->Entries; f != nullptr; f = f->Next) list.emplace_back(f, list.size());
    // The insertion sort puts each entry before the first sorted one that is greater or equal, so equal
    // names end in the reverse of their previous order.
    std::sort(list.begin(), list.end(), [](const auto& a, const auto& b) {
        const int c = a.first->ShortName.compare(b.first->ShortName);
        return c != 0 ? c < 0 : a.second > b.second;
    });
    directory->Entries = nullptr;
    directory->LastEntry = nullptr;
    for (auto& [f, pos] : list) {
        f->Next = nullptr;
        append(directory, f);
    }
}

namespace {

// Breadth-first order of the directories for the path tables, each directory's children ordered by `key`
// (bytes or UTF-16 units, prefix first); `number` receives each position, root = 1.
template <typename Key>
void PathTableOrder(TDEntry* root, std::vector<TDEntry*>& order, std::uint32_t TDEntry::*number, Key key) {
    using K = decltype(key(root));
    order.clear();
    order.push_back(root);
    root->*number = 1;
    std::vector<std::pair<K, TDEntry*>> children;
    for (std::size_t i = 0; i < order.size(); ++i) {
        children.clear();
        for (TFEntry* f = order[i]->Entries; f != nullptr; f = f->Next) {
            if (f->isDirectory() && f->DirLink != nullptr) children.emplace_back(key(f->DirLink), f->DirLink);
        }
        std::stable_sort(children.begin(), children.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& [k, c] : children) {
            c->*number = static_cast<std::uint32_t>(order.size() + 1);
            order.push_back(c);
        }
    }
}

}  // namespace

void TCompilation::NumberDirectories() {
    m_isoOrder.reserve(m_dirs.size());
    PathTableOrder(Root(), m_isoOrder, &TDEntry::DirNumber, [](const TDEntry* d) { return d->ShortName; });
    // The Joliet tables follow the Joliet names as written, in their own order and numbering.
    m_jolietOrder.reserve(m_dirs.size());
    PathTableOrder(Root(), m_jolietOrder, &TDEntry::JolietNumber,
                   [](const TDEntry* d) { return ToUtf16(d->LongName); });
}

}  // namespace brenwick
