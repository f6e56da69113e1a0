// The compilation tree: every directory and file entry of the next session, with the registries in
// creation order, the tree operations the backup workflow and the session import use, and the order and
// numbering the layout needs. The burner owns one TCompilation and forwards its operations. Main thread only.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "base/qrTypes.h"
#include "isofs/qrEntries.h"
#include "isofs/qrFileSearch.h"

namespace brenwick {

// Called for every file about to be added (imported ones with an empty FullPath), before the skip and
// duplicate decisions. The handler may change the names and the date-time and set or clear Skip.
using TAddFileEvent = std::function<void(
    TObject* Sender, const std::string& FullPath, std::string& LongFileName, std::string& ShortFileName,
    TDateTime& DateTime, std::int32_t Attr, std::int64_t FileSize, bool& Skip)>;
// Called for every sub-directory that a recursive folder add finds; Skip leaves it and all below it out.
using TAddDirEvent =
    std::function<void(TObject* Sender, std::string& LongName, std::string& ShortName, bool& Skip)>;

inline constexpr int kMaxDirectories = 8191;   // without the root
inline constexpr int kMaxFileEntries = 65535;  // files and sub-directory entries

class TCompilation {
  public:
    // `sender` is passed to the events (the burner); `log` receives every report (text, mType).
    explicit TCompilation(TObject* sender = nullptr, TLogFn log = {});
    TCompilation(const TCompilation&) = delete;
    TCompilation& operator=(const TCompilation&) = delete;

    TAddFileEvent OnAddFile;
    TAddDirEvent OnAddDir;
    // What adding a file of an existing long name does: false keeps the first entry, true overwrites it.
    bool ReplaceFile = false;

    void SetSender(TObject* sender) { m_sender = sender; }
    void SetLog(TLogFn log) { m_log = std::move(log); }
    // The clock of AddNamedDirectory (local time now); tests fix it.
    void SetClock(std::function<TDateTime()> now) { m_now = std::move(now); }

    // Frees every entry, resets the counts, takes the time-zone offset and creates the root.
    void ClearCompilation();

    // Directory whose Path equals `path` ("" and "\" give the root; one trailing "\" is ignored), or none.
    TDEntry* FindDirectory(const std::string& path) const;
    // Directory for `path`, creating missing components; none when a limit or a bad component stops it.
    TDEntry* ForceDirectory(const std::string& path);
    // New (or existing) sub-directory `name` with the current date-time.
    TDEntry* AddNamedDirectory(TDEntry* parent, const std::string& name);
    // New (or existing, same path) sub-directory from a search record; none when refused. A disc name that
    // differs from the record's source name is logged with `sourcePath`, or once the first add into the
    // directory names its source folder (no `sourcePath`). An imported directory (`nameAsRead`) keeps its
    // name as read from the disc.
    TDEntry* AddDirectoryEntry(TDEntry* parent, const TSearchRec& rec, const std::string& sourcePath = {},
                               bool nameAsRead = false);
    // First child whose long name equals `name` exactly, or none.
    TFEntry* FindEntry(const TDEntry* directory, const std::string& name) const;
    // The file of `directory` added from `sourcePath` (under whatever disc name), or none.
    TFEntry* FindSource(const TDEntry* directory, const std::string& sourcePath) const;
    // 1 when stored, 0 when skipped or refused. A previous extent other than 0 marks the entry imported.
    int AddFileEntry(TDEntry* directory, const TSearchRec& rec, const std::string& fullPath,
                     std::uint32_t previousExtent);
    // 1 when the source exists (stored or not), -1 when it does not, 0 when the destination is invalid.
    int AddFile(const std::string& destination, const std::string& source, bool derive);
    // Result of the last file add, 0 when the destination is invalid.
    int AddFolder(const std::string& destination, const std::string& source, bool archiveOnly, bool derive,
                  bool recursive, std::uint32_t attrMask, const std::string& fileMask);
    int AddFolderTo(TDEntry* directory, const std::string& source, bool archiveOnly, bool derive,
                    bool recursive, std::uint32_t attrMask, const std::string& fileMask);

    // The checksum manifest of this run in `folder` (named kManifestName; a file of the run already holding
    // that name keeps it and the manifest takes a tailed one). Its size is set by the layout. None when
    // the folder is none or a limit refuses it.
    TFEntry* AddManifest(TDEntry* folder, TDateTime dateTime);
    TFEntry* ManifestEntry() const { return m_manifest; }
    TDEntry* ManifestFolder() const { return m_manifest != nullptr ? m_manifestFolder : nullptr; }

    int DirectoryCount() const { return static_cast<int>(m_dirs.size()) - 1; }
    int EntryCount() const { return static_cast<int>(m_files.size()); }
    // Entries that adds left out and reported (limits included); the workflow reports the count.
    int LeftOutCount() const { return m_leftOutCount; }
    // Minus the standard-time offset from UTC in minutes, divided by 15 (directory record dates).
    std::int8_t TimeZoneOffset() const { return m_timeZoneOffset; }

    TDEntry* Root() const { return m_dirs.front(); }
    // Every directory in creation order, the root first.
    const std::vector<TDEntry*>& Directories() const { return m_dirs; }
    // Every file entry in creation order.
    const std::vector<TFEntry*>& Files() const { return m_files; }
    // Directories in path table order (filled by NumberDirectories): by short names for the ISO 9660
    // tables (DirNumber), by long names for the Joliet tables (JolietNumber).
    const std::vector<TDEntry*>& IsoPathOrder() const { return m_isoOrder; }
    const std::vector<TDEntry*>& JolietPathOrder() const { return m_jolietOrder; }

    // Sorts a directory's child list by short name (bytes, prefix first, equal names reversed).
    void SortEntries(TDEntry* directory);
    // Orders the directories for both path tables and sets every DirNumber and JolietNumber (root = 1).
    void NumberDirectories();

    // Logs ">>> NOT BACKED UP: path (reason)" and counts it.
    void ReportLeftOut(const std::string& path, TLeftOutReason reason);

  private:
    // Keys are views of the entries' own names (entries never move); a name is unindexed before it changes.
    struct TDirIndex {
        std::unordered_map<std::string_view, TFEntry*> byLong;
        std::unordered_map<std::string_view, TFEntry*> byShort;
        std::unordered_map<std::string_view, TFEntry*> bySource;  // views of TFEntry::SourcePath
        std::unordered_map<std::string, unsigned> nextTail;       // next "~N" to try, per clashing short name
        std::unordered_map<std::string, unsigned> nextLongTail;   // the same for long names
    };

    void log(const std::string& text, std::uint8_t mType) const;
    // Counts and logs an entry refused by a limit ("MAXIMUM ... CAN BE %d").
    void refuseAtLimit(std::string_view pattern, int limit);
    TDEntry* newDirectory();
    TFEntry* newFile();
    void append(TDEntry* directory, TFEntry* entry);
    // The short name `wanted` made unique among the other entries of `directory`.
    std::string uniqueShortName(TDEntry* directory, const std::string& wanted, const std::string& longName,
                                bool isFile);
    void indexShortName(TDEntry* directory, TFEntry* entry);
    void unindexShortName(TDEntry* directory, TFEntry* entry);
    std::string discPath(const TDEntry* directory, const std::string& name) const;
    // `wanted` within the length bound and unique among the long names of `directory` ("~N" added).
    std::string freeLongName(TDEntry* directory, const std::string& wanted, bool isFile);
    void reportRenamed(const std::string& sourcePath, const std::string& discName) const;
    // Logs the pending renames of `directory` and its parents, as far as their asked names mirror the
    // source folder `folder` they stand for.
    void reportRenamedFolders(TDEntry* directory, std::string folder);
    int addFolderItems(TDEntry* target, const std::string& source, bool archiveOnly, bool recursive,
                       std::uint32_t attrMask, const std::string& fileMask, int level);

    TObject* m_sender = nullptr;
    TLogFn m_log;
    std::function<TDateTime()> m_now;
    std::int8_t m_timeZoneOffset = 0;
    int m_leftOutCount = 0;
    TFEntry* m_manifest = nullptr;
    TDEntry* m_manifestFolder = nullptr;

    std::deque<TDEntry> m_dirStore;  // owns the entries; addresses stay valid until ClearCompilation
    std::deque<TFEntry> m_fileStore;
    std::vector<TDEntry*> m_dirs;
    std::vector<TFEntry*> m_files;
    std::vector<TDEntry*> m_isoOrder;
    std::vector<TDEntry*> m_jolietOrder;
    std::vector<TDirIndex> m_index;                           // per directory, by TDEntry::Index
    std::unordered_map<std::string_view, TDEntry*> m_byPath;  // views of TDEntry::Path
};

}  // namespace brenwick
