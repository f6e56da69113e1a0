// A bounds-checked reader over a byte span: every getter reports failure instead of reading past the end.
// Used for every volume descriptor and directory record read from a disc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace brenwick {

class TByteReader {
  public:
    explicit TByteReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::size_t size() const { return m_bytes.size(); }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    [[nodiscard]] bool u8(std::size_t offset, std::uint8_t& out) const {
        if (!has(offset, 1)) return false;
        out = m_bytes[offset];
        return true;
    }
    [[nodiscard]] bool le32(std::size_t offset, std::uint32_t& out) const {
        if (!has(offset, 4)) return false;
        out = 0;
        for (int i = 3; i >= 0; --i) out = (out << 8) | m_bytes[offset + static_cast<std::size_t>(i)];
        return true;
    }
    [[nodiscard]] bool be32(std::size_t offset, std::uint32_t& out) const {
        if (!has(offset, 4)) return false;
        out = 0;
        for (std::size_t i = 0; i < 4; ++i) out = (out << 8) | m_bytes[offset + i];
        return true;
    }
    // The bytes [offset, offset + count), or an empty span when they do not all exist.
    std::span<const std::uint8_t> bytes(std::size_t offset, std::size_t count) const {
        if (!has(offset, count)) return {};
        return m_bytes.subspan(offset, count);
    }

  private:
    std::span<const std::uint8_t> m_bytes;
};

}  // namespace brenwick
