// The disc image of a recorder: a sparse file in which LBA N sits at byte N x 2048. Writes go straight to
// the file; Sync() (fdatasync) makes them durable and is called at SYNCHRONIZE CACHE and before a
// session is closed, not once per WRITE.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <span>
#include <string>

namespace brenwick {

inline constexpr std::size_t kBlockSize = 2048;

enum class TImageAccess : std::uint8_t { ReadOnly, ReadWrite };

class TImageFile {
  public:
    TImageFile() = default;
    ~TImageFile();
    TImageFile(const TImageFile&) = delete;
    TImageFile& operator=(const TImageFile&) = delete;

    // Opens (ReadWrite: creating) the image; false with `error` set on failure.
    [[nodiscard]] bool Open(const std::string& path, TImageAccess access, std::string& error);
    void Close();
    bool isOpen() const { return m_fd >= 0; }
    const std::string& path() const { return m_path; }

    // Whole blocks only; a block past the end of the file reads as zeros (the file is sparse).
    [[nodiscard]] bool Read(std::int64_t lba, std::span<std::uint8_t> data, std::string& error) const;
    // Blocks of zeros become holes.
    [[nodiscard]] bool Write(std::int64_t lba, std::span<const std::uint8_t> data, std::string& error);
    // Writes zeros as a hole (padding of closed tracks).
    [[nodiscard]] bool Zero(std::int64_t lba, std::int64_t blocks, std::string& error);
    [[nodiscard]] bool Sync(std::string& error);
    // Drops every block (BLANK): the file becomes empty.
    [[nodiscard]] bool Truncate(std::string& error);
    std::int64_t sizeInBlocks() const;

  private:
    [[nodiscard]] bool writeBytes(off_t offset, std::span<const std::uint8_t> data, std::string& error);
    static bool isZeroBlock(std::span<const std::uint8_t> data, std::size_t at);

    int m_fd = -1;
    bool m_dirty = false;
    std::string m_path;
};

}  // namespace brenwick
