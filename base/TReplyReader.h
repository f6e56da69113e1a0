// A bounds-checked reader over bytes from outside: a drive's answer, a CDB or parameter list sent to the
// image recorder, a sector of a disc. Every getter reports failure instead of reading past the end (it
// returns 0); once a read fails the reader stays failed, so a parser can read a run of fields and test
// ok() once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace brenwick {

class TReplyReader {
  public:
    explicit TReplyReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    bool ok() const { return m_ok; }
    std::size_t size() const { return m_bytes.size(); }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }

    std::uint8_t u8(std::size_t offset) const {
        if (!check(offset, 1)) return 0;
        return m_bytes[offset];
    }
    std::uint16_t be16(std::size_t offset) const {
        if (!check(offset, 2)) return 0;
        return std::uint16_t(m_bytes[offset] << 8 | m_bytes[offset + 1]);
    }
    std::uint32_t be24(std::size_t offset) const {
        if (!check(offset, 3)) return 0;
        return std::uint32_t(m_bytes[offset]) << 16 | std::uint32_t(m_bytes[offset + 1]) << 8 |
               m_bytes[offset + 2];
    }
    std::uint32_t be32(std::size_t offset) const {
        if (!check(offset, 4)) return 0;
        return std::uint32_t(m_bytes[offset]) << 24 | std::uint32_t(m_bytes[offset + 1]) << 16 |
               std::uint32_t(m_bytes[offset + 2]) << 8 | m_bytes[offset + 3];
    }
    std::uint16_t le16(std::size_t offset) const {
        if (!check(offset, 2)) return 0;
        return std::uint16_t(m_bytes[offset] | m_bytes[offset + 1] << 8);
    }
    std::uint32_t le32(std::size_t offset) const {
        if (!check(offset, 4)) return 0;
        return std::uint32_t(m_bytes[offset]) | std::uint32_t(m_bytes[offset + 1]) << 8 |
               std::uint32_t(m_bytes[offset + 2]) << 16 | std::uint32_t(m_bytes[offset + 3]) << 24;
    }
    // ISO 9660 both-endian fields: the little-endian half is used when the two halves disagree.
    std::uint16_t both16(std::size_t offset) const {
        if (!check(offset, 4)) return 0;
        return le16(offset);
    }
    std::uint32_t both32(std::size_t offset) const {
        if (!check(offset, 8)) return 0;
        return le32(offset);
    }
    // `count` bytes from `offset`, or an empty span (and failure) when they are not all there.
    std::span<const std::uint8_t> bytes(std::size_t offset, std::size_t count) const {
        if (!check(offset, count)) return {};
        return m_bytes.subspan(offset, count);
    }

    bool bit(std::size_t offset, unsigned bitNumber) const { return (u8(offset) >> bitNumber) & 1u; }

  private:
    bool check(std::size_t offset, std::size_t count) const {
        if (!has(offset, count)) m_ok = false;
        return m_ok && has(offset, count);
    }

    std::span<const std::uint8_t> m_bytes;
    mutable bool m_ok = true;
};

}  // namespace brenwick
