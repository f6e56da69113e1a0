// Sessions written by the layout and read back by third-party ISO 9660 readers (xorriso, isoinfo, pycdlib):
// names, sizes, contents and dates of the Joliet tree must come out as written, for a first session at 0 and
// for a second session, which imports the first, at a later start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "isofs/qrCompilation.h"
#include "isofs/qrISOLayout.h"
#include "isofs/qrSessionDisc.h"
#include "isofs/qrSessionPrepare.h"
#include "isofs/qrTestSupport.h"

namespace brenwick {
namespace {

namespace fs = std::filesystem;
using testing::Quote;
using testing::RunCommand;
using testing::TTempTree;
using testing::WriteText;

struct TItem {
    bool dir = false;
    std::uint64_t size = 0;
    std::string content;
    std::int64_t mtime = -1;  // -1: not compared
    bool operator==(const TItem& o) const {
        return dir == o.dir && size == o.size && content == o.content &&
               (mtime < 0 || o.mtime < 0 || mtime == o.mtime);
    }
};
using TTree = std::map<std::string, TItem>;

// The differences of two trees, one line each, for the failure message.
std::string Diff(const TTree& got, const TTree& want) {
    std::string out;
    for (const auto& [path, item] : want) {
        const auto it = got.find(path);
        if (it == got.end()) {
            out += "\n  missing " + path;
        } else if (!(it->second == item)) {
            out += "\n  differs " + path + ": size " + std::to_string(it->second.size) + " vs " +
                   std::to_string(item.size) + ", time " + std::to_string(it->second.mtime) + " vs " +
                   std::to_string(item.mtime) + (it->second.content == item.content ? "" : ", content");
        }
    }
    for (const auto& [path, item] : got) {
        if (want.count(path) == 0) out += "\n  extra " + path;
    }
    return out;
}

TTree FromFolder(const std::string& folder, const std::string& under, bool withMtime) {
    TTree tree;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        const std::string rel = under + "/" + fs::relative(e.path(), folder).string();
        TItem item;
        item.dir = e.is_directory();
        if (!item.dir) {
            item.size = e.file_size();
            item.content = testing::ReadText(e.path().string());
            struct stat st {};
            if (withMtime && stat(e.path().c_str(), &st) == 0) item.mtime = st.st_mtime;
        }
        tree[rel] = item;
    }
    return tree;
}

TTree ReadWithXorriso(const std::string& image, std::uint64_t session, const std::string& scratch) {
    const std::string out = scratch + "/xorriso-out";
    fs::remove_all(out);
    const auto r = RunCommand("TZ=UTC xorriso -no_rc -read_fs norock -load sbsector " +
                              std::to_string(session) + " -indev stdio:" + Quote(image) +
                              " -osirrox on:auto_chmod_on -extract / " + Quote(out) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    TTree tree;
    for (auto& [path, item] : FromFolder(out, "", true)) tree[path] = item;
    fs::permissions(out, fs::perms::owner_all, fs::perm_options::add);
    for (const auto& e : fs::recursive_directory_iterator(out)) {
        std::error_code ec;
        fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(out);
    return tree;
}

std::string Latin1ToUtf8(const std::string& s) {
    std::string out;
    for (unsigned char ch : s) {
        if (ch < 0x80) {
            out += static_cast<char>(ch);
        } else {
            out += static_cast<char>(0xC0 | (ch >> 6));
            out += static_cast<char>(0x80 | (ch & 0x3F));
        }
    }
    return out;
}

std::string Utf8ToLatin1(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto ch = static_cast<unsigned char>(s[i]);
        if ((ch & 0xE0) == 0xC0 && i + 1 < s.size()) {
            out += static_cast<char>(((ch & 0x1F) << 6) | (static_cast<unsigned char>(s[++i]) & 0x3F));
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out;
}

TTree ReadWithIsoinfo(const std::string& image, std::uint64_t session) {
    const std::string base =
        "isoinfo -i " + Quote(image) + " -T " + std::to_string(session) + " -J -j iso8859-1";
    const auto r = RunCommand(base + " -l 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    TTree tree;
    const std::regex heading("^Directory listing of (.*)/$");
    const std::regex entry(
        R"(^([d-])\S+\s+\d+\s+\d+\s+\d+\s+(\d+)\s+\w+\s+\d+\s+\d+\s+\[\s*\d+\s+\d+\]\s\s(.*?)\s?$)");
    std::istringstream lines(r.output);
    std::string line, dir;
    std::smatch m;
    while (std::getline(lines, line)) {
        if (std::regex_match(line, m, heading)) {
            dir = Latin1ToUtf8(m[1]);
        } else if (std::regex_match(line, m, entry)) {
            const std::string name = Latin1ToUtf8(m[3]);
            if (name == "." || name == "..") continue;
            TItem item;
            item.dir = m[1] == "d";
            const std::string path = dir + "/" + name;
            if (!item.dir) {
                item.size = std::stoull(m[2]);
                item.content = RunCommand(base + " -x " + Quote(Utf8ToLatin1(path)) + " 2>&1").output;
            }
            tree[path] = item;
        }
    }
    return tree;
}

// pycdlib reads the descriptors at sector 16 only: a view shows the session's descriptor set there.
constexpr const char* kPycdlibScript = R"PY(
import io, sys, calendar, pycdlib
img, n = sys.argv[1], int(sys.argv[2])
class View(io.RawIOBase):
    def __init__(self, f):
        self.f = f; self.pos = 0; f.seek(0, 2); self.size = f.tell()
    def readable(self): return True
    def seekable(self): return True
    def tell(self): return self.pos
    def seek(self, off, whence=0):
        self.pos = off if whence == 0 else (self.pos + off if whence == 1 else self.size + off)
        return self.pos
    def readinto(self, b):
        out = bytearray()
        while len(out) < len(b) and self.pos < self.size:
            sec, off = divmod(self.pos, 2048)
            src = n + sec if n and 16 <= sec < 21 else sec
            self.f.seek(src * 2048 + off)
            chunk = self.f.read(min(2048 - off, len(b) - len(out)))
            if not chunk: break
            out += chunk; self.pos += len(chunk)
        b[:len(out)] = out
        return len(out)
iso = pycdlib.PyCdlib()
iso.open_fp(io.BufferedReader(View(open(img, 'rb'))))
for root, dirs, files in iso.walk(joliet_path='/'):
    for d in dirs:
        print('D\t' + (root.rstrip('/') + '/' + d))
    for f in files:
        p = root.rstrip('/') + '/' + f
        rec = iso.get_record(joliet_path=p)
        dt = rec.date
        t = calendar.timegm((1900 + dt.years_since_1900, dt.month, dt.day_of_month,
                             dt.hour, dt.minute, dt.second)) - dt.gmtoffset * 900
        buf = io.BytesIO()
        iso.get_file_from_iso_fp(buf, joliet_path=p)
        print('F\t%s\t%d\t%d\t%s' % (p, rec.get_data_length(), t, buf.getvalue().hex()))
)PY";

TTree ReadWithPycdlib(const std::string& image, std::uint64_t session, const std::string& scratch) {
    WriteText(scratch + "/read.py", kPycdlibScript);
    const auto r = RunCommand("/usr/bin/python3 " + Quote(scratch + "/read.py") + " " + Quote(image) + " " +
                              std::to_string(session) + " 2>&1");
    EXPECT_EQ(r.status, 0) << r.output;
    TTree tree;
    std::istringstream lines(r.output);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
        if (f.size() == 2 && f[0] == "D") {
            tree[f[1]] = TItem{true, 0, "", -1};
        } else if (f.size() >= 4 && f[0] == "F") {
            TItem item;
            item.size = std::stoull(f[2]);
            item.mtime = std::stoll(f[3]);
            for (std::size_t i = 0; f.size() == 5 && i + 1 < f[4].size(); i += 2)
                item.content += static_cast<char>(std::stoi(f[4].substr(i, 2), nullptr, 16));
            tree[f[1]] = item;
        }
    }
    return tree;
}

// Every directory on the path to `under`, as the readers list them.
void AddParents(TTree& tree, const std::string& under) {
    for (auto at = under.find('/', 1); at != std::string::npos; at = under.find('/', at + 1))
        tree[under.substr(0, at)] = TItem{true, 0, "", -1};
    tree[under] = TItem{true, 0, "", -1};
}

void MakeSource(const std::string& root, int variant) {
    WriteText(root + "/a.txt", "alpha " + std::to_string(variant));
    WriteText(root + "/README", "no extension");
    WriteText(root + "/empty.dat", "");
    WriteText(root + "/exact.bin", std::string(2048, 'e'));
    WriteText(root + "/over.bin", std::string(2049, 'o'));
    WriteText(root + "/Report 2025.docx", "report");
    WriteText(root + "/caf\xc3\xa9 cr\xc3\xa8me.txt", "latin-1 name");
    WriteText(root + "/My Music/song.mp3", std::string(3000, 's'));
    WriteText(root + "/deep/x/y/z.txt", "deep");
    fs::create_directories(root + "/emptydir");
    for (int i = 0; i < 30; ++i)  // more than one sector of directory records
        WriteText(root + "/big/" + std::string(40, 'n') + std::to_string(i) + ".txt", std::to_string(i));
    WriteText(root + "/" + std::string(96, 'L') + ".txt", "long");
    std::int64_t t = 1765064000 + variant * 100;  // even seconds: DOS times keep them exactly
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_regular_file()) testing::SetMtime(e.path().string(), t += 2);
    }
}

class ReadersTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
        for (const char* tool : {"xorriso", "isoinfo", "/usr/bin/python3"}) testing::RequireTool(tool);
        ASSERT_EQ(RunCommand("/usr/bin/python3 -c 'import pycdlib' 2>&1").status, 0)
            << "python3-pycdlib is missing";
    }
    void keep(const std::string& image) {
        if (const char* dir = std::getenv("BRENWICK_KEEP_IMAGE_DIR"))
            fs::copy_file(image,
                          std::string(dir) + "/" +
                              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".img",
                          fs::copy_options::overwrite_existing);
    }
    void expectReaders(const std::string& image, std::uint64_t session, const TTree& expected) {
        EXPECT_EQ(Diff(ReadWithXorriso(image, session, tmp.path()), expected), "") << "xorriso";
        TTree noDates = expected;
        for (auto& [p, item] : noDates) item.mtime = -1;
        EXPECT_EQ(Diff(ReadWithIsoinfo(image, session), noDates), "") << "isoinfo";
        EXPECT_EQ(Diff(ReadWithPycdlib(image, session, tmp.path()), expected), "") << "pycdlib";
    }
    TTempTree tmp;
};

TEST_F(ReadersTest, FirstSessionAtZeroAndSecondSessionAfterIt) {
    const std::string src1 = tmp / "one", src2 = tmp / "two", image = tmp / "disc.img";
    MakeSource(src1, 1);
    MakeSource(src2, 2);
    TCompilation c;
    TVolumeInfo volume;
    volume.IdVolume = "BACKUP";
    const std::string run1 = "\\2026-12-06 23.52\\data";
    ASSERT_NE(c.ForceDirectory(run1), nullptr);
    ASSERT_EQ(c.AddFolder(run1, src1, false, false, true, 63, "*.*"), 1);
    EXPECT_EQ(c.LeftOutCount(), 0);
    TMetadataStream stream;
    TSessionLayout layout;
    TPrepareInput input;
    input.Volume = volume;
    ASSERT_EQ(PrepareSession(c, input, stream, layout, {}), TPrepareStatus::Ok);
    testing::WriteSession(image, c, layout, stream);
    TTree expected1 = FromFolder(src1, "/2026-12-06 23.52/data", true);
    AddParents(expected1, "/2026-12-06 23.52/data");
    expectReaders(image, 0, expected1);

    // The second session, at 20000, imports the first and adds a run of its own.
    c.ClearCompilation();
    const std::string run2 = "\\2026-12-06 23.59\\data";
    ASSERT_NE(c.ForceDirectory(run2), nullptr);
    ASSERT_EQ(c.AddFolder(run2, src2, false, false, true, 63, "*.*"), 1);
    TMemoryDisc disc(testing::ReadImage(image), {0});
    input.Disc = &disc;
    input.SessionSelector = -1;
    input.StartSector = 20000;
    stream.clear();
    std::vector<std::string> log;
    ASSERT_EQ(PrepareSession(c, input, stream, layout,
                             [&](const std::string& m, std::uint8_t) { log.push_back(m); }),
              TPrepareStatus::Ok);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(layout.PrimarySector, 20016u);
    testing::WriteSession(image, c, layout, stream);
    keep(image);
    TTree expected2 = FromFolder(src2, "/2026-12-06 23.59/data", true);
    AddParents(expected2, "/2026-12-06 23.59/data");
    expected2.insert(expected1.begin(), expected1.end());
    expectReaders(image, 20000, expected2);
    // The first session still reads as it was.
    expectReaders(image, 0, expected1);
}

// Joliet off: the ISO 9660 tree alone, read by isoinfo without Joliet.
TEST_F(ReadersTest, SessionWithoutJoliet) {
    const std::string src = tmp / "src", image = tmp / "plain.img";
    WriteText(src + "/readme.txt", "plain");
    WriteText(src + "/sub/data.bin", std::string(5000, 'd'));
    TCompilation c;
    ASSERT_EQ(c.AddFolder("\\", src, false, false, true, 63, "*.*"), 1);
    TMetadataStream stream;
    TSessionLayout layout;
    ASSERT_EQ(LayoutSession(c, 0, false, TVolumeInfo{}, stream, layout), TLayoutStatus::Ok);
    testing::WriteSession(image, c, layout, stream);
    const auto r = RunCommand("isoinfo -i " + Quote(image) + " -l 2>&1");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("README.TXT;1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("DATA.BIN;1"), std::string::npos) << r.output;
    EXPECT_EQ(RunCommand("isoinfo -i " + Quote(image) + " -x '/SUB/DATA.BIN;1' 2>&1").output,
              std::string(5000, 'd'));
    keep(image);
}

}  // namespace
}  // namespace brenwick
