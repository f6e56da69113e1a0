// A temporary folder for tests, removed with everything in it when the object goes.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace brenwick::testing {

class TTempTree {
  public:
    TTempTree() {
        std::string pattern = (std::filesystem::temp_directory_path() / "brenwick-engine-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) m_root = pattern;
    }
    ~TTempTree() {
        std::error_code ignored;
        std::filesystem::remove_all(m_root, ignored);
    }
    TTempTree(const TTempTree&) = delete;
    TTempTree& operator=(const TTempTree&) = delete;

    const std::filesystem::path& root() const { return m_root; }

    // Writes a file of `bytes` under the root (folders made as needed) and returns its full path.
    std::string write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
        const auto path = m_root / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // A file of `size` bytes whose content depends on `seed` and the position (so that misplaced or
    // swapped data is noticed).
    std::string writePattern(const std::string& relative, std::size_t size, unsigned seed) const {
        return write(relative, Pattern(size, seed));
    }

    static std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed) {
        std::vector<std::uint8_t> bytes(size);
        std::uint32_t state = seed * 2654435761u + 1;
        for (auto& byte : bytes) {
            state = state * 1664525u + 1013904223u;
            byte = static_cast<std::uint8_t>(state >> 24);
        }
        return bytes;
    }

  private:
    std::filesystem::path m_root;
};

}  // namespace brenwick::testing
