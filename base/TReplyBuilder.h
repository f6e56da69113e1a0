// Writers of fixed-layout bytes: big- and little-endian and the both-endian fields of ISO 9660 into a
// buffer of known size (CDBs, parameter lists, disc structures), and a reply builder that grows as fields
// are put (the image recorder's answers). CD addresses in minutes, seconds and frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace brenwick {

// Big-endian stores into a fixed buffer (CDBs and parameter lists the drive layer builds).
inline void PutBe16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value) {
    out[offset] = std::uint8_t(value >> 8);
    out[offset + 1] = std::uint8_t(value);
}
inline void PutBe32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value) {
    out[offset] = std::uint8_t(value >> 24);
    out[offset + 1] = std::uint8_t(value >> 16);
    out[offset + 2] = std::uint8_t(value >> 8);
    out[offset + 3] = std::uint8_t(value);
}

inline void PutLe16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value) {
    out[offset] = std::uint8_t(value);
    out[offset + 1] = std::uint8_t(value >> 8);
}
inline void PutLe32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) out[offset + i] = std::uint8_t(value >> (8 * i));
}
// ISO 9660 both-endian fields: the little-endian half first.
inline void PutBoth16(std::span<std::uint8_t> out, std::size_t offset, std::uint16_t value) {
    PutLe16(out, offset, value);
    PutBe16(out, offset + 2, value);
}
inline void PutBoth32(std::span<std::uint8_t> out, std::size_t offset, std::uint32_t value) {
    PutLe32(out, offset, value);
    PutBe32(out, offset + 4, value);
}

// The same stores at a position inside a buffer whose size the caller has settled (the layout's sectors).
inline void PutLe16(std::uint8_t* at, std::uint16_t value) {
    PutLe16(std::span<std::uint8_t>(at, 2), 0, value);
}
inline void PutBe16(std::uint8_t* at, std::uint16_t value) {
    PutBe16(std::span<std::uint8_t>(at, 2), 0, value);
}
inline void PutLe32(std::uint8_t* at, std::uint32_t value) {
    PutLe32(std::span<std::uint8_t>(at, 4), 0, value);
}
inline void PutBe32(std::uint8_t* at, std::uint32_t value) {
    PutBe32(std::span<std::uint8_t>(at, 4), 0, value);
}
inline void PutBoth16(std::uint8_t* at, std::uint16_t value) {
    PutBoth16(std::span<std::uint8_t>(at, 4), 0, value);
}
inline void PutBoth32(std::uint8_t* at, std::uint32_t value) {
    PutBoth32(std::span<std::uint8_t>(at, 8), 0, value);
}

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
