// A temporary folder for tests, removed with everything in it when the object goes, and the small file
// helpers the tests write their source trees with. Standard library only.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

namespace brenwick::testing {

// Writes `content` to `path`, making its folders as needed; an existing file is replaced.
inline void WriteText(const std::string& path, const std::string& content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

// The whole content of a file (empty when it cannot be read).
inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TTempTree {
  public:
    // Makes a fresh folder named `prefix`-XXXXXX in the system's temporary folder; throws when it cannot,
    // which fails the test that wanted it.
    explicit TTempTree(const std::string& prefix = "brenwick-test") {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("cannot make a temporary folder: " + std::string(std::strerror(errno)));
        m_root = pattern;
    }
    // Tests may take permissions away inside the tree: they are given back so that everything goes.
    ~TTempTree() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto it = fs::recursive_directory_iterator(m_root, ignored);
             it != fs::recursive_directory_iterator(); it.increment(ignored)) {
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        }
        fs::remove_all(m_root, ignored);
    }
    TTempTree(const TTempTree&) = delete;
    TTempTree& operator=(const TTempTree&) = delete;

    const std::filesystem::path& root() const { return m_root; }
    // The folder's path, without a trailing "/".
    std::string path() const { return m_root.string(); }
    std::string operator/(const std::string& relative) const { return path() + "/" + relative; }

    // Writes a file of `bytes` under the root (folders made as needed) and returns its full path.
    std::string write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
        const auto file = m_root / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file.string();
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
