// Bounds-checked access to CDBs and parameter lists, and a big-endian reply builder, for the image recorder.
// Every field the recorder takes from the initiator is read through TFieldReader, so that a short CDB or a
// short parameter list reads as zero and is flagged instead of being read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace brenwick {

class TFieldReader {
  public:
    explicit TFieldReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

    std::size_t size() const { return m_bytes.size(); }
    bool has(std::size_t offset, std::size_t count) const {
        return offset <= m_bytes.size() && count <= m_bytes.size() - offset;
    }
    // Each getter returns 0 and sets the overrun flag when the field lies outside the bytes.
    std::uint8_t u8(std::size_t offset) const { return has(offset, 1) ? m_bytes[offset] : fail(); }
    std::uint16_t be16(std::size_t offset) const { return std::uint16_t(be(offset, 2)); }
    std::uint32_t be24(std::size_t offset) const { return std::uint32_t(be(offset, 3)); }
    std::uint32_t be32(std::size_t offset) const { return std::uint32_t(be(offset, 4)); }
    bool bit(std::size_t offset, unsigned bitNumber) const { return (u8(offset) >> bitNumber) & 1u; }
    bool overrun() const { return m_overrun; }

  private:
    std::uint8_t fail() const {
        m_overrun = true;
        return 0;
    }
    std::uint64_t be(std::size_t offset, std::size_t count) const {
        if (!has(offset, count)) return fail();
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < count; ++i) value = (value << 8) | m_bytes[offset + i];
        return value;
    }

    std::span<const std::uint8_t> m_bytes;
    mutable bool m_overrun = false;
};

// Builds a reply of fixed layout: the buffer grows as fields are put at offsets.
class TReplyBuilder {
  public:
    explicit TReplyBuilder(std::size_t size = 0) : m_bytes(size, 0) {}

    std::vector<std::uint8_t>& bytes() { return m_bytes; }
    std::size_t size() const { return m_bytes.size(); }
    void resize(std::size_t size) { m_bytes.resize(size, 0); }
    void u8(std::size_t offset, std::uint32_t value) { put(offset, value, 1); }
    void be16(std::size_t offset, std::uint32_t value) { put(offset, value, 2); }
    void be24(std::size_t offset, std::uint32_t value) { put(offset, value, 3); }
    void be32(std::size_t offset, std::uint32_t value) { put(offset, value, 4); }
    void orBits(std::size_t offset, std::uint8_t bits) {
        grow(offset + 1);
        m_bytes[offset] |= bits;
    }
    void text(std::size_t offset, std::size_t width, const char* value);
    void append(std::span<const std::uint8_t> bytes) {
        m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    }

  private:
    void grow(std::size_t size) {
        if (m_bytes.size() < size) m_bytes.resize(size, 0);
    }
    void put(std::size_t offset, std::uint32_t value, std::size_t count) {
        grow(offset + count);
        for (std::size_t i = 0; i < count; ++i)
            m_bytes[offset + i] = std::uint8_t(value >> (8 * (count - 1 - i)));
    }

    std::vector<std::uint8_t> m_bytes;
};

inline void TReplyBuilder::text(std::size_t offset, std::size_t width, const char* value) {
    grow(offset + width);
    std::size_t i = 0;
    for (; i < width && value[i] != '\0'; ++i) m_bytes[offset + i] = std::uint8_t(value[i]);
    for (; i < width; ++i) m_bytes[offset + i] = ' ';
}

// CD addressing: minutes, seconds, frames of absolute time (LBA 0 = 00:02:00).
struct TMsf {
    std::uint8_t m = 0, s = 0, f = 0;
};

inline TMsf LbaToMsf(std::int32_t lba) {
    std::int64_t t = lba >= -150 ? std::int64_t(lba) + 150 : std::int64_t(lba) + 450150;
    if (t < 0) t = 0;
    return TMsf{std::uint8_t(t / 4500), std::uint8_t((t / 75) % 60), std::uint8_t(t % 75)};
}

inline std::int32_t MsfToLba(TMsf msf) {
    const std::int32_t t = (msf.m * 60 + msf.s) * 75 + msf.f;
    return msf.m < 90 ? t - 150 : t - 450150;
}

// The 4-byte MSF field of a reply: 00 M S F.
inline std::uint32_t MsfField(std::int32_t lba) {
    const TMsf msf = LbaToMsf(lba);
    return (std::uint32_t(msf.m) << 16) | (std::uint32_t(msf.s) << 8) | msf.f;
}

}  // namespace brenwick
