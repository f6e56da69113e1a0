// End to end with big files: a file of 4 GiB - 1 bytes and one of 2 GiB recorded onto a DVD, with a small
// file after them whose extent lies beyond 2^32 bytes of the session, read back by xorriso, isoinfo and
// pycdlib; a file of 4 GiB is left out and reported; a second session imports the first and keeps its
// extents. The sources are sparse and the recorder writes zero blocks as holes, so the disc use stays
// small; every file is hashed by streaming, never held in memory.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "base/testing/IsoReaders.h"
#include "engine/qrBurnerDisc.h"
#include "engine/qrCDBC.h"
#include "engine/qrCache.h"
#include "engine/testing/RecorderRig.h"
#include "isofs/qrSessionPrepare.h"

namespace brenwick {
namespace {

using testing::Quote;
using testing::TRecorderRig;
using testing::TRigOptions;

constexpr std::uint64_t kGiB = 1024ull * 1024 * 1024;
constexpr std::int32_t kDualLayerBlocks = 4173824;  // an 8.5 GB disc: room for a session of 6 GB and more

// A file's length, a hash of its bytes and the bytes at chosen offsets, taken from a stream in chunks
// of any size (the hash works on fixed 64 KiB blocks, so the chunking does not change it).
class TStreamDigest {
  public:
    explicit TStreamDigest(std::vector<std::uint64_t> offsets = {}) : m_offsets(std::move(offsets)) {}

    void add(const std::uint8_t* bytes, std::size_t count) {
        for (const std::uint64_t offset : m_offsets) {
            if (offset >= m_length && offset < m_length + count) m_marks[offset] = bytes[offset - m_length];
        }
        m_length += count;
        while (count > 0) {
            const std::size_t take = std::min(count, m_block.size() - m_fill);
            std::memcpy(m_block.data() + m_fill, bytes, take);
            m_fill += take;
            bytes += take;
            count -= take;
            if (m_fill == m_block.size()) flushBlock();
        }
    }
    std::uint64_t length() const { return m_length; }
    std::uint64_t hash() {
        if (m_fill > 0) flushBlock();
        return m_hash ^ m_length;
    }
    // The byte at `offset`, or -1 when the stream did not reach it.
    int mark(std::uint64_t offset) const {
        const auto it = m_marks.find(offset);
        return it == m_marks.end() ? -1 : it->second;
    }

  private:
    void flushBlock() {
        std::memset(m_block.data() + m_fill, 0, m_block.size() - m_fill);
        for (std::size_t at = 0; at < m_block.size(); at += 8) {
            std::uint64_t word = 0;
            std::memcpy(&word, m_block.data() + at, 8);
            m_hash = (m_hash ^ word) * 0x9E3779B97F4A7C15ull;
            m_hash ^= m_hash >> 29;
        }
        m_fill = 0;
    }

    std::vector<std::uint64_t> m_offsets;
    std::map<std::uint64_t, std::uint8_t> m_marks;
    std::array<std::uint8_t, 65536> m_block{};
    std::size_t m_fill = 0;
    std::uint64_t m_length = 0;
    std::uint64_t m_hash = 0xCBF29CE484222325ull;
};

// Streams the standard output of `command` into `digest`; the command's exit status.
int digestCommand(const std::string& command, TStreamDigest& digest) {
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    std::vector<std::uint8_t> buffer(1 << 20);
    std::size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) digest.add(buffer.data(), got);
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool digestFile(const std::string& path, TStreamDigest& digest) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<std::uint8_t> buffer(1 << 20);
    ssize_t got = 0;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) digest.add(buffer.data(), std::size_t(got));
    ::close(fd);
    return got == 0;
}

// A sparse file of `size` bytes holding `marks` (offset -> byte) and zeros elsewhere.
bool writeSparse(const std::string& path, std::uint64_t size,
                 const std::map<std::uint64_t, std::uint8_t>& marks) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, off_t(size)) == 0;
    for (const auto& [offset, byte] : marks) ok = ok && ::pwrite(fd, &byte, 1, off_t(offset)) == 1;
    ::close(fd);
    return ok;
}

// One way of reading a session: the Joliet paths of its files, and a command that writes one file's bytes
// to standard output.
struct TReader {
    std::string name;
    std::function<std::string()> list;  // command printing one path a line
    std::function<std::string(const std::string& path)> cat;
};

std::string pycdlibScript(const std::filesystem::path& scratch) {
    const auto script = scratch / "big_pycdlib.py";
    // pycdlib looks for descriptors only at sector 16: the view shows it the session's descriptors there
    // and every other sector where it is, so that the absolute extents of a later session work.
    std::ofstream(script) << R"PY(
import io, os, sys, pycdlib
image, lba, mode = sys.argv[1], int(sys.argv[2]), sys.argv[3]
class View(io.RawIOBase):
    def __init__(self, f):
        self.f = f; self.pos = 0; self.size = os.fstat(f.fileno()).st_size
    def readable(self): return True
    def seekable(self): return True
    def seek(self, off, whence=0):
        self.pos = off if whence == 0 else (self.pos + off if whence == 1 else self.size + off)
        return self.pos
    def tell(self): return self.pos
    def readinto(self, b):
        n = len(b); done = 0
        while done < n:
            sector, within = divmod(self.pos, 2048)
            src = sector + lba if 16 <= sector < 16 + 8 else sector
            self.f.seek(src * 2048 + within)
            chunk = self.f.read(min(n - done, (1 << 20) if sector >= 24 else 2048 - within))
            if sector < 24: chunk = chunk[:2048 - within]
            if not chunk: break
            b[done:done + len(chunk)] = chunk; done += len(chunk); self.pos += len(chunk)
        return done
iso = pycdlib.PyCdlib()
iso.open_fp(View(open(image, 'rb')))
if mode == 'list':
    for root, dirs, files in iso.walk(joliet_path='/'):
        for name in files:
            path = root.rstrip('/') + '/' + name
            print(path[:-2] if path.endswith(';1') else path)
else:
    iso.get_file_from_iso_fp(sys.stdout.buffer, joliet_path=sys.argv[4])
iso.close()
)PY";
    return script.string();
}

// The files of isoinfo's long listing: Joliet path -> extent, length.
std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> isoinfoExtents(const std::string& command) {
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> files;
    std::string output;
    if (testing::RunCommand(command + " 2>/dev/null", output) != 0) return files;
    static const std::regex folderLine("^Directory listing of (.*/)$");
    static const std::regex fileLine(R"(^-\S*\s+\d+\s+\d+\s+\d+\s+(\d+)\s.*\[\s*(\d+)\s+\d+\]\s+(.+?)\s*$)");
    std::istringstream lines(output);
    std::string folder;
    std::smatch match;
    for (std::string line; std::getline(lines, line);) {
        if (std::regex_match(line, match, folderLine)) {
            folder = match[1];
        } else if (std::regex_match(line, match, fileLine)) {
            files[folder + match[3].str()] = {std::stoull(match[2]), std::stoull(match[1])};
        }
    }
    return files;
}

std::vector<TReader> readers(const std::string& image, std::uint32_t lba,
                             const std::filesystem::path& scratch) {
    const std::string at = std::to_string(lba);
    const std::string xorriso = "xorriso -no_rc -abort_on FAILURE -read_fs norock -load sbsector " + at +
                                " -indev stdio:" + Quote(image) + " -osirrox on";
    const std::string isoinfo = "isoinfo -i " + Quote(image) + " -T " + at + " -J -j iso8859-1";
    const std::string script = pycdlibScript(scratch);
    const std::string pycdlib = "/usr/bin/python3 " + Quote(script) + " " + Quote(image) + " " + at;
    const std::string errors = Quote((scratch / "reader-errors").string());
    const auto listing = std::make_shared<std::map<std::string, std::pair<std::uint64_t, std::uint64_t>>>(
        isoinfoExtents(isoinfo + " -l"));
    return {
        {"xorriso",
         [=] { return xorriso + " -find / -type f 2>/dev/null | sed -e \"s/^'//\" -e \"s/'$//\""; },
         [=](const std::string& path) {
             return xorriso + " -concat overwrite /dev/fd/3 " + Quote(path) + " -- 3>&1 1>/dev/null 2>" +
                    errors;
         }},
        {"isoinfo", [=] { return isoinfo + " -f 2>/dev/null"; },
         [=](const std::string& path) {
             // isoinfo -x holds a file's length in a signed 32-bit count and extracts nothing of a file of
             // 2 GiB or more: such a file is read from the image at the extent isoinfo lists for it.
             const auto it = listing->find(path);
             if (it == listing->end() || it->second.second < 2 * kGiB)
                 return isoinfo + " -x " + Quote(path) + " 2>" + errors;
             return "dd if=" + Quote(image) +
                    " iflag=skip_bytes,count_bytes bs=1M skip=" + std::to_string(it->second.first * 2048) +
                    " count=" + std::to_string(it->second.second) + " 2>" + errors;
         }},
        {"pycdlib", [=] { return pycdlib + " list 2>&1"; },
         [=](const std::string& path) { return pycdlib + " cat " + Quote(path) + " 2>" + errors; }},
    };
}

// A file expected on the disc: its Joliet path, its source and the offsets whose bytes are checked.
struct TExpected {
    std::string path;
    std::string source;
    std::vector<std::uint64_t> marks;
};

// Every reader lists exactly the expected files (directories left aside) and gives each one back with the
// source's length, hash and marker bytes. Lines of directories that isoinfo -f lists are ignored.
void expectReadersSee(const std::string& image, std::uint32_t lba, const std::vector<TExpected>& files,
                      const std::filesystem::path& scratch) {
    std::map<std::string, std::pair<std::uint64_t, std::uint64_t>> sources;  // source -> length, hash
    for (const auto& reader : readers(image, lba, scratch)) {
        SCOPED_TRACE(reader.name + " reading the session at " + std::to_string(lba));
        ASSERT_TRUE(testing::HaveProgram(reader.name == "pycdlib" ? "/usr/bin/python3" : reader.name))
            << reader.name << " is not installed";
        std::string listing;
        ASSERT_EQ(testing::RunCommand(reader.list(), listing), 0) << listing;
        for (const auto& file : files) {
            EXPECT_NE(listing.find(file.path + "\n"), std::string::npos) << file.path << " not listed:\n"
                                                                         << listing;
            EXPECT_EQ(listing.find("/d.bin"), std::string::npos) << "a file of 4 GiB was recorded";
            TStreamDigest source(file.marks), read(file.marks);
            ASSERT_TRUE(digestFile(file.source, source)) << file.source;
            ASSERT_EQ(digestCommand(reader.cat(file.path), read), 0)
                << file.path << ": " << testing::ReadText(scratch / "reader-errors");
            EXPECT_EQ(read.length(), source.length()) << file.path;
            EXPECT_EQ(read.hash(), source.hash()) << file.path;
            for (const std::uint64_t offset : file.marks) {
                EXPECT_EQ(read.mark(offset), source.mark(offset)) << file.path << " at " << offset;
                EXPECT_GT(source.mark(offset), 0) << "marker at " << offset << " of " << file.source;
            }
        }
    }
}

class BigFiles : public ::testing::Test {
  protected:
    static TRigOptions dvd(TMediaType media) {
        TRigOptions options;
        options.media = media;
        options.capacity = kDualLayerBlocks;
        return options;
    }

    // The source folder: a.bin of 4 GiB - 1 bytes, b.bin of 2 GiB, c.txt small, d.bin of 4 GiB.
    void makeSources(const std::filesystem::path& root) {
        m_source = (root / "src").string();
        std::filesystem::create_directories(m_source);
        const std::uint64_t big = 4 * kGiB - 1;
        m_bigMarks = {{0, 0x11},
                      {2 * kGiB - 1, 0x22},
                      {2 * kGiB, 0x33},
                      {4 * kGiB - 2048 - 1, 0x44},
                      {4 * kGiB - 2048, 0x55},
                      {big - 1, 0x66}};
        ASSERT_TRUE(writeSparse(m_source + "/a.bin", big, m_bigMarks));
        ASSERT_TRUE(writeSparse(m_source + "/b.bin", 2 * kGiB, {{0, 0x77}, {2 * kGiB - 1, 0x88}}));
        const auto small = testing::TTempTree::Pattern(70001, 9);
        std::ofstream(m_source + "/c.txt", std::ios::binary)
            .write(reinterpret_cast<const char*>(small.data()), std::streamsize(small.size()));
        ASSERT_TRUE(writeSparse(m_source + "/d.bin", 4 * kGiB, {{0, 0x99}}));
    }

    std::vector<TExpected> expected(const std::string& folder) const {
        std::vector<std::uint64_t> bigOffsets;
        for (const auto& mark : m_bigMarks) bigOffsets.push_back(mark.first);
        return {{"/" + folder + "/a.bin", m_source + "/a.bin", bigOffsets},
                {"/" + folder + "/b.bin", m_source + "/b.bin", {0, 2 * kGiB - 1}},
                {"/" + folder + "/c.txt", m_source + "/c.txt", {}}};
    }

    static const TFEntry* fileNamed(TQrvBurner& b, const std::string& name) {
        for (const TFEntry* entry : b.Compilation().Files()) {
            if (entry->LongName == name) return entry;
        }
        return nullptr;
    }

    std::string m_source;
    std::map<std::uint64_t, std::uint8_t> m_bigMarks;
};

// The first session: every byte of the two big files and the small file after them comes back in the three
// readers; the file of 4 GiB is reported and not recorded; the image holds little more than the data.
TEST_F(BigFiles, FilesUpTo4GiBMinus1AreRecordedWholeOnADvd) {
    TRecorderRig rig(dvd(TMediaType::DvdPlusR));
    TQrvBurner& b = rig.burner();
    makeSources(rig.tree().root());
    ASSERT_TRUE(rig.Compile("run1", m_source));
    EXPECT_TRUE(rig.Logged(">>> NOT BACKED UP: " + m_source + "/d.bin (4 GB OR LARGER)"));
    EXPECT_EQ(b.LeftOutCount(), 1);
    EXPECT_EQ(fileNamed(b, "d.bin"), nullptr);

    const TFEntry* a = fileNamed(b, "a.bin");
    const TFEntry* small = fileNamed(b, "c.txt");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(small, nullptr);
    EXPECT_EQ(a->Size, 4 * kGiB - 1);
    const std::int64_t dataSectors = (4 * kGiB + 2 * kGiB + 70001 + 2047) / 2048;
    EXPECT_GT(b.ImageSectors, dataSectors);

    const auto began = std::chrono::steady_clock::now();
    const auto outcome = rig.Burn();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - began;
    struct rusage usage {};
    (void)::getrusage(RUSAGE_SELF, &usage);
    std::printf("recorded %lld MB in %.1f s, peak memory of the process %ld MB\n",
                static_cast<long long>(b.BytesWritten() / 1000000), took.count(), usage.ru_maxrss / 1024);
    ASSERT_TRUE(outcome.started);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(b.BytesWritten(), b.ImageSectors * 2048);
    expectReadersSee(rig.imagePath(), 0, expected("run1"), rig.tree().root());
    // The small file lies beyond 6 GiB of the session: its extent is past 2^31 and 2^32 bytes.
    const auto extents = isoinfoExtents("isoinfo -i " + Quote(rig.imagePath()) + " -J -j iso8859-1 -l");
    ASSERT_EQ(extents.count("/run1/c.txt"), 1u);
    EXPECT_GT(extents.at("/run1/c.txt").first * 2048, 6 * kGiB);
    EXPECT_EQ(extents.at("/run1/a.bin").second, 4 * kGiB - 1);

    struct stat st {};
    ASSERT_EQ(::stat(rig.imagePath().c_str(), &st), 0);
    EXPECT_EQ(std::uint64_t(st.st_size), std::uint64_t(b.ImageSectors) * 2048);
    EXPECT_LT(std::uint64_t(st.st_blocks) * 512, 64ull * 1024 * 1024) << "zero blocks took room on disk";
}

// Session at once into a reserved track of a DVD-R: the same files come back whole.
TEST_F(BigFiles, DvdRReservedTrackHoldsTheBigFiles) {
    TRecorderRig rig(dvd(TMediaType::DvdR));
    TQrvBurner& b = rig.burner();
    makeSources(rig.tree().root());
    ASSERT_TRUE(rig.Compile("run1", m_source));
    const auto outcome = rig.Burn();
    ASSERT_TRUE(outcome.started);
    EXPECT_EQ(outcome.error, "");
    EXPECT_EQ(b.BytesWritten(), b.ImageSectors * 2048);
    expectReadersSee(rig.imagePath(), 0, expected("run1"), rig.tree().root());
}

// Streams the session that `layout` describes (metadata, then every file that holds data, in the order of
// the layout) into the image at its start sector, through the cache thread as a recording does.
bool writeSession(TQrvBurner& b, TMetadataStream metadata, const TSessionLayout& layout,
                  const std::string& image) {
    TCacheInput input;
    input.Metadata = std::move(metadata);
    for (const TDEntry* directory : b.Compilation().Directories()) {
        for (const TFEntry* entry = directory->Entries; entry != nullptr; entry = entry->Next) {
            if (entry->isDirectory() || entry->SourcePath.empty() || entry->Size == 0) continue;
            input.Files.push_back({entry->SourcePath, entry->Size});
        }
    }
    TCacheThread cache(4 * 1024 * 1024, std::move(input), layout.ImageSectors * 2048);
    const int fd = ::open(image.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    std::vector<std::uint8_t> block(kCacheBlockBytes);
    off_t at = off_t(layout.StartSector) * 2048;
    bool ok = true;
    for (int got = 0; ok && (got = cache.GetBlock(block)) != 0;) {
        if (got < 0) {  // nothing queued yet
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        ok = ::pwrite(fd, block.data(), std::size_t(got), at) == got;
        at += got;
    }
    ::close(fd);
    return ok && cache.ErrorText().empty() && at == off_t(layout.EndSector) * 2048;
}

// A second session after the 6 GB one: the import keeps the big files' extents, the new descriptors lie
// after the first session, and both sessions read back whole.
TEST_F(BigFiles, SecondSessionAfterASixGigabyteSessionKeepsTheImportedExtents) {
    TRecorderRig rig(dvd(TMediaType::DvdPlusR));
    TQrvBurner& b = rig.burner();
    makeSources(rig.tree().root());
    ASSERT_TRUE(rig.Compile("run1", m_source));
    ASSERT_EQ(rig.Burn().error, "");
    // Where the first session put its files, as isoinfo reads them.
    const auto extents = isoinfoExtents("isoinfo -i " + Quote(rig.imagePath()) + " -J -j iso8859-1 -l");
    ASSERT_EQ(extents.size(), 3u);
    const std::int64_t firstEnd = b.ImageSectors;

    // The DVD's next writable address: Prepare itself keeps a DVD session at 0 and refuses to continue.
    ASSERT_TRUE(b.ReadTrackInformation(0xFF));
    const std::uint32_t start = b.TrackInfo.NextWritableAddress;
    EXPECT_GE(std::int64_t{start}, firstEnd);
    const std::string second = (rig.tree().root() / "src2").string();
    rig.tree().writePattern("src2/new.txt", 12345, 3);

    b.ClearCompilation();
    ASSERT_NE(b.ForceDirectory("\\run2"), nullptr);
    (void)b.AddFolder("\\run2", second, false, false, true, 63, "*.*");
    TBurnerDisc disc(b);
    TPrepareInput input;
    input.StartSector = start;
    input.SessionSelector = -1;
    input.Disc = &disc;
    TMetadataStream metadata;
    TSessionLayout layout;
    std::vector<std::string> log;
    const auto logFn = [&log](const std::string& text, std::uint8_t) { log.push_back(text); };
    ASSERT_EQ(PrepareSession(b.Compilation(), input, metadata, layout, logFn), TPrepareStatus::Ok)
        << ::testing::PrintToString(log);
    EXPECT_EQ(layout.PrimarySector, start + 16u);
    EXPECT_GT(layout.PrimarySector * 2048, 6 * kGiB);
    for (const auto& name : {"a.bin", "b.bin", "c.txt"}) {
        const TFEntry* entry = fileNamed(b, name);
        ASSERT_NE(entry, nullptr) << name;
        EXPECT_TRUE(entry->Imported) << name;
        EXPECT_EQ(entry->IsoExtent, extents.at("/run1/" + std::string(name)).first) << name;
        EXPECT_EQ(entry->JolietExtent, extents.at("/run1/" + std::string(name)).first) << name;
    }
    EXPECT_EQ(fileNamed(b, "a.bin")->Size, 4 * kGiB - 1);
    EXPECT_EQ(fileNamed(b, "b.bin")->Size, 2 * kGiB);
    ASSERT_TRUE(writeSession(b, std::move(metadata), layout, rig.imagePath()));

    auto both = expected("run1");
    both.push_back({"/run2/new.txt", second + "/new.txt", {}});
    expectReadersSee(rig.imagePath(), start, both, rig.tree().root());
    expectReadersSee(rig.imagePath(), 0, expected("run1"), rig.tree().root());
}

}  // namespace
}  // namespace brenwick
