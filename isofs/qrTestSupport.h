// Test fixtures of the file-system image: flat disc images written from a layout (LBA N at byte N * 2048),
// file times, and the check that a third-party reader is installed. The temporary tree and the command
// runner are the shared ones. Used by the tests only.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/testing/RunCommand.h"
#include "base/testing/TTempTree.h"
#include "isofs/qrCompilation.h"
#include "isofs/qrISOLayout.h"

namespace brenwick::testing {

// Sets the modification time of a path (seconds since 1970, UTC).
inline void SetMtime(const std::string& path, std::int64_t unixTime) {
    const std::string cmd = "touch -h -d @" + std::to_string(unixTime) + " '" + path + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
}

// The readers are required: a missing one fails the test loudly (CI installs them).
inline void RequireTool(const std::string& tool) {
    ASSERT_TRUE(HaveProgram(tool)) << tool << " is not installed (scripts/install-deps.sh installs it)";
}

// Writes the session into a flat image: the metadata at StartSector, then every file's data in the walk
// order of the layout, each from a sector boundary. An existing image is extended in place.
inline void WriteSession(const std::string& image, const TCompilation& compilation,
                         const TSessionLayout& layout, const TMetadataStream& stream) {
    std::FILE* f = std::fopen(image.c_str(), std::filesystem::exists(image) ? "r+b" : "w+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseeko(f, static_cast<off_t>(layout.StartSector * 2048), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(stream.data(), 1, stream.size(), f), stream.size());
    for (const TDEntry* d : compilation.Directories()) {
        for (const TFEntry* e = d->Entries; e != nullptr; e = e->Next) {
            if (e->isDirectory() || e->Imported || e->Size == 0 || e->SourcePath.empty()) continue;
            const std::string data = ReadText(e->SourcePath);
            std::string block = data.substr(0, e->Size);
            block.resize(SectorsOf(e->Size) * 2048, '\0');
            ASSERT_EQ(fseeko(f, static_cast<off_t>((layout.FirstFileSector + e->IsoExtent) * 2048), SEEK_SET),
                      0);
            ASSERT_EQ(std::fwrite(block.data(), 1, block.size(), f), block.size());
        }
    }
    // The image ends at the session's end at least, even when its last sectors hold no file data.
    struct stat st {};
    ASSERT_EQ(fstat(fileno(f), &st), 0);
    const auto end = static_cast<off_t>(layout.EndSector * 2048);
    if (st.st_size < end) {
        ASSERT_EQ(ftruncate(fileno(f), end), 0);
    }
    std::fclose(f);
}

inline std::vector<std::uint8_t> ReadImage(const std::string& path) {
    const std::string text = ReadText(path);
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace brenwick::testing
