#include "drive/recorder/TImageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "drive/recorder/TPrivateFiles.h"

namespace brenwick {

namespace {

bool Fail(std::string& error, const std::string& what) {
    error = what + ": " + std::strerror(errno);
    return false;
}

}  // namespace

TImageFile::~TImageFile() {
    Close();
}

bool TImageFile::Open(const std::string& path, TImageAccess access, std::string& error) {
    Close();
    // The image holds every backed-up file: only its owner may read it.
    m_fd = access == TImageAccess::ReadWrite ? OpenPrivateFile(path, O_RDWR)
                                             : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) return Fail(error, "cannot open disc image " + path);
    m_path = path;
    return true;
}

void TImageFile::Close() {
    if (m_fd >= 0) {
        // Closing without a sync loses nothing the state file claims: it is only updated after a Sync.
        ::close(m_fd);
    }
    m_fd = -1;
    m_dirty = false;
}

bool TImageFile::Read(std::int64_t lba, std::span<std::uint8_t> data, std::string& error) const {
    std::size_t done = 0;
    const off_t offset = off_t(lba) * off_t(kBlockSize);
    while (done < data.size()) {
        const ssize_t n = ::pread(m_fd, data.data() + done, data.size() - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return Fail(error, "cannot read disc image " + m_path);
        if (n == 0) {
            std::fill(data.begin() + std::ptrdiff_t(done), data.end(), std::uint8_t(0));
            break;
        }
        done += std::size_t(n);
    }
    return true;
}

bool TImageFile::Write(std::int64_t lba, std::span<const std::uint8_t> data, std::string& error) {
    // Runs of all-zero blocks become holes (a backup of sparse files, disc padding), so that the image
    // takes on disk only the blocks that hold data; any other bytes are written as they are.
    const off_t offset = off_t(lba) * off_t(kBlockSize);
    std::size_t at = 0;
    while (at < data.size()) {
        const bool zero = isZeroBlock(data, at);
        std::size_t end = at;
        do {
            end = std::min(end + kBlockSize, data.size());
        } while (end < data.size() && isZeroBlock(data, end) == zero);
        const bool done = zero ? Zero((offset + off_t(at)) / off_t(kBlockSize),
                                      std::int64_t((end - at) / kBlockSize), error)
                               : writeBytes(offset + off_t(at), data.subspan(at, end - at), error);
        if (!done) return false;
        at = end;
    }
    m_dirty = true;
    return true;
}

bool TImageFile::writeBytes(off_t offset, std::span<const std::uint8_t> data, std::string& error) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(m_fd, data.data() + done, data.size() - done, offset + off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return Fail(error, "cannot write disc image " + m_path);
        done += std::size_t(n);
    }
    return true;
}

// A whole block of zeros at `at`; a last partial block never counts (it is written as it is).
bool TImageFile::isZeroBlock(std::span<const std::uint8_t> data, std::size_t at) {
    if (data.size() - at < kBlockSize) return false;
    const std::uint8_t* block = data.data() + at;
    return block[0] == 0 && std::memcmp(block, block + 1, kBlockSize - 1) == 0;
}

bool TImageFile::Zero(std::int64_t lba, std::int64_t blocks, std::string& error) {
    if (blocks <= 0) return true;
    const off_t offset = off_t(lba) * off_t(kBlockSize);
    const off_t length = off_t(blocks) * off_t(kBlockSize);
    struct stat st {};
    if (::fstat(m_fd, &st) != 0) return Fail(error, "cannot stat disc image " + m_path);
    // Beyond the end of the file the blocks are already zero once the file is extended.
    if (st.st_size < offset + length && ::ftruncate(m_fd, offset + length) != 0)
        return Fail(error, "cannot extend disc image " + m_path);
    if (offset < st.st_size) {
        const off_t inside = std::min<off_t>(length, st.st_size - offset);
        if (::fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, offset, inside) != 0) {
            static const std::uint8_t zeros[kBlockSize] = {};
            for (off_t at = 0; at < inside; at += off_t(kBlockSize)) {
                if (!writeBytes(offset + at, zeros, error)) return false;
            }
        }
    }
    m_dirty = true;
    return true;
}

bool TImageFile::Sync(std::string& error) {
    if (!m_dirty) return true;
    if (::fdatasync(m_fd) != 0) return Fail(error, "cannot sync disc image " + m_path);
    m_dirty = false;
    return true;
}

bool TImageFile::Truncate(std::string& error) {
    if (::ftruncate(m_fd, 0) != 0) return Fail(error, "cannot blank disc image " + m_path);
    m_dirty = true;
    return Sync(error);
}

std::int64_t TImageFile::sizeInBlocks() const {
    struct stat st {};
    if (m_fd < 0 || ::fstat(m_fd, &st) != 0) return 0;
    return (st.st_size + std::int64_t(kBlockSize) - 1) / std::int64_t(kBlockSize);
}

}  // namespace brenwick
