// Third-party ISO 9660 readers for the tests: xorriso, isoinfo and pycdlib each read one session of a flat
// disc image (sector N at byte N x 2048) and hand back every file of its Joliet tree with its bytes; bsdtar
// and 7z read the volume whose descriptors lie at sector 16, as a mounted disc shows it.
// A reader that is missing is an error of the test, never a silent skip.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/testing/RunCommand.h"
#include "base/testing/TTempTree.h"

namespace brenwick::testing {

struct TReaderTree {
    std::map<std::string, std::string> files;  // "/a/b.txt" -> bytes
    std::string error;                         // empty when the reader read the session
};

// Every regular file below `root`, keyed by its path from `root` ("/a/b.txt").
inline std::map<std::string, std::string> FilesBelow(const std::filesystem::path& root) {
    std::map<std::string, std::string> files;
    if (!std::filesystem::exists(root)) return files;
    for (const auto& item : std::filesystem::recursive_directory_iterator(root)) {
        if (!item.is_regular_file()) continue;
        files["/" + std::filesystem::relative(item.path(), root).string()] = ReadText(item.path());
    }
    return files;
}

inline TReaderTree ReadWithXorriso(const std::string& image, std::uint32_t lba,
                                   const std::filesystem::path& scratch) {
    TReaderTree tree;
    if (!HaveProgram("xorriso")) {
        tree.error = "xorriso is not installed (Debian package xorriso)";
        return tree;
    }
    const auto out = scratch / "xorriso";
    std::filesystem::remove_all(out);
    std::string log;
    const int status =
        RunCommand("xorriso -no_rc -abort_on FAILURE -read_fs norock -load sbsector " + std::to_string(lba) +
                       " -indev stdio:" + Quote(image) + " -osirrox on:auto_chmod_on -extract / " +
                       Quote(out.string()) + " 2>&1",
                   log);
    if (status != 0) {
        tree.error = "xorriso failed: " + log;
        return tree;
    }
    tree.files = FilesBelow(out);
    return tree;
}

// isoinfo lists the Joliet tree (-f) and extracts each file (-x) of the session at `lba` (-T).
inline TReaderTree ReadWithIsoinfo(const std::string& image, std::uint32_t lba) {
    TReaderTree tree;
    if (!HaveProgram("isoinfo")) {
        tree.error = "isoinfo is not installed (Debian package genisoimage)";
        return tree;
    }
    const std::string base = "isoinfo -i " + Quote(image) + " -T " + std::to_string(lba) + " -J -j iso8859-1";
    std::string listing;
    if (RunCommand(base + " -f 2>&1", listing) != 0) {
        tree.error = "isoinfo -f failed: " + listing;
        return tree;
    }
    std::string directories;
    (void)RunCommand(base + " -l 2>/dev/null", directories);
    std::istringstream lines(listing);
    for (std::string path; std::getline(lines, path);) {
        if (path.empty()) continue;
        std::string bytes;
        if (RunCommand(base + " -x " + Quote(path) + " 2>/dev/null", bytes) != 0) {
            tree.error = "isoinfo -x failed for " + path;
            return tree;
        }
        // -x of a directory prints nothing; the listing shows directories as "Directory listing of".
        if (directories.find("Directory listing of " + path + "/") != std::string::npos) continue;
        const bool versioned = path.size() > 2 && path.compare(path.size() - 2, 2, ";1") == 0;
        tree.files[versioned ? path.substr(0, path.size() - 2) : path] = bytes;
    }
    return tree;
}

// pycdlib reads descriptors only at sector 16: the script shows it sectors lba+16.. there, and every other
// sector where it is, so that the absolute extents of a later session work.
inline TReaderTree ReadWithPycdlib(const std::string& image, std::uint32_t lba,
                                   const std::filesystem::path& scratch) {
    TReaderTree tree;
    const auto script = scratch / "read_pycdlib.py";
    std::ofstream(script) << R"PY(
import io, os, sys, pycdlib
image, lba, out = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def descriptor_sectors(f):
    count = 0
    while True:
        f.seek((lba + 16 + count) * 2048)
        head = f.read(6)
        count += 1
        if len(head) < 6 or head[1:6] != b'CD001' or head[0] == 255 or count > 64:
            return count + 1  # the set, its terminator and one more sector
class View(io.RawIOBase):
    def __init__(self, f):
        self.f = f; self.pos = 0; self.size = os.fstat(f.fileno()).st_size
        self.shown = descriptor_sectors(f)
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
            src = sector + lba if 16 <= sector < 16 + self.shown else sector
            self.f.seek(src * 2048 + within)
            chunk = self.f.read(min(n - done, 2048 - within))
            if not chunk: break
            b[done:done + len(chunk)] = chunk; done += len(chunk); self.pos += len(chunk)
        return done
iso = pycdlib.PyCdlib()
iso.open_fp(View(open(image, 'rb')))
for root, dirs, files in iso.walk(joliet_path='/'):
    for name in files:
        path = root.rstrip('/') + '/' + name
        shown = path[:-2] if path.endswith(';1') else path
        target = os.path.join(out, shown.lstrip('/'))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, 'wb') as f:
            iso.get_file_from_iso_fp(f, joliet_path=path)
iso.close()
)PY";
    const auto out = scratch / "pycdlib";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    std::string log;
    const int status = RunCommand("/usr/bin/python3 " + Quote(script.string()) + " " + Quote(image) + " " +
                                      std::to_string(lba) + " " + Quote(out.string()) + " 2>&1",
                                  log);
    if (status != 0) {
        tree.error = "pycdlib failed (Debian package python3-pycdlib): " + log;
        return tree;
    }
    tree.files = FilesBelow(out);
    return tree;
}

// An extracting archiver (bsdtar or 7z) run on the volume at sector 16 of `image`, extracting into `out`.
inline TReaderTree ReadWithExtractor(const std::string& program, const std::string& command,
                                     const std::string& package, const std::filesystem::path& out) {
    TReaderTree tree;
    if (!HaveProgram(program)) {
        tree.error = program + " is not installed (Debian package " + package + ")";
        return tree;
    }
    std::string log;
    if (RunCommand(command + " 2>&1", log) != 0) {
        tree.error = program + " failed: " + log;
        return tree;
    }
    tree.files = FilesBelow(out);
    return tree;
}

inline TReaderTree ReadWithBsdtar(const std::string& image, const std::filesystem::path& scratch) {
    const auto out = scratch / "bsdtar";
    std::filesystem::remove_all(out);
    std::filesystem::create_directories(out);
    return ReadWithExtractor("bsdtar", "bsdtar -xf " + Quote(image) + " -C " + Quote(out.string()),
                             "libarchive-tools", out);
}

inline TReaderTree ReadWith7z(const std::string& image, const std::filesystem::path& scratch) {
    const auto out = scratch / "7z";
    std::filesystem::remove_all(out);
    return ReadWithExtractor("7z", "7z x -y -tiso -o" + Quote(out.string()) + " " + Quote(image),
                             "p7zip-full", out);
}

}  // namespace brenwick::testing
