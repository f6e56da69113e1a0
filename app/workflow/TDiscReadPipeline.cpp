// The disc read pipeline (see TDiscReadPipeline.h).
#include "app/workflow/TDiscReadPipeline.h"

#include <algorithm>
#include <chrono>

namespace brenwick {

namespace {

constexpr std::size_t kSector = 2048;
// A stop set from outside wakes nobody: waits look at it this often.
constexpr auto kStopPoll = std::chrono::milliseconds(10);

}  // namespace

TDiscReadPipeline::TDiscReadPipeline(TSessionDisc& disc, std::vector<TDiscExtent> extents,
                                     const std::atomic<bool>* stop, TReadLimits limits)
    : m_disc(disc),
      m_extents(std::move(extents)),
      m_stop(stop),
      m_runSectors(std::max<std::uint32_t>(limits.RunSectors, 1)),
      m_buffers(std::max<std::size_t>(limits.Buffers, 1)),
      m_states(m_extents.size(), TFileState::Pending),
      m_badLba(m_extents.size(), 0) {
    for (std::size_t i = m_buffers.size(); i-- > 0;) m_free.push_back(static_cast<int>(i));
    m_reader = std::thread([this] { readAll(); });
}

TDiscReadPipeline::~TDiscReadPipeline() {
    cancel();
    m_reader.join();
}

void TDiscReadPipeline::cancel() {
    {
        std::lock_guard lock(m_mutex);
        m_cancel = true;
    }
    m_changed.notify_all();
}

bool TDiscReadPipeline::stopped() const {
    return m_cancel.load() || (m_stop != nullptr && m_stop->load());
}

TPiece TDiscReadPipeline::next(std::size_t index) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (stopped()) return TPiece{TPieceKind::Stopped, {}, 0, -1};
        const auto it = std::find_if(m_filled.begin(), m_filled.end(),
                                     [index](const TFilled& f) { return f.File == index; });
        if (it != m_filled.end()) {
            const TFilled filled = *it;
            m_filled.erase(it);
            const std::uint8_t* bytes = m_buffers[static_cast<std::size_t>(filled.Buffer)].data();
            return TPiece{TPieceKind::Bytes, {bytes, filled.Size}, 0, filled.Buffer};
        }
        if (m_states[index] == TFileState::Done) return TPiece{TPieceKind::End, {}, 0, -1};
        if (m_states[index] == TFileState::Unreadable)
            return TPiece{TPieceKind::Unreadable, {}, m_badLba[index], -1};
        m_changed.wait_for(lock, kStopPoll);
    }
}

void TDiscReadPipeline::release(const TPiece& piece) {
    if (piece.Buffer < 0) return;
    {
        std::lock_guard lock(m_mutex);
        m_free.push_back(piece.Buffer);
    }
    m_changed.notify_all();
}

int TDiscReadPipeline::acquire() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (stopped()) return -1;
        if (!m_free.empty()) {
            const int buffer = m_free.back();
            m_free.pop_back();
            return buffer;
        }
        m_changed.wait_for(lock, kStopPoll);
    }
}

void TDiscReadPipeline::finishFile(std::size_t index, TFileState state, std::uint32_t badLba) {
    {
        std::lock_guard lock(m_mutex);
        m_states[index] = state;
        m_badLba[index] = badLba;
    }
    m_changed.notify_all();
}

void TDiscReadPipeline::readAll() {
    for (std::size_t i = 0; i < m_extents.size() && !stopped(); ++i) readFile(i);
}

// The file's sectors in runs, each run handed over as soon as it is read; the first sector that cannot be
// read ends the file.
void TDiscReadPipeline::readFile(std::size_t index) {
    std::uint64_t left = m_extents[index].Size;
    for (std::uint64_t lba = m_extents[index].Lba; left > 0;) {
        const auto sectors =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(m_runSectors, (left + kSector - 1) / kSector));
        if (lba + sectors - 1 > 0xFFFFFFFFu) return finishFile(index, TFileState::Unreadable, 0xFFFFFFFFu);
        const int buffer = acquire();
        if (buffer < 0) return;
        auto& bytes = m_buffers[static_cast<std::size_t>(buffer)];
        if (bytes.empty()) bytes.resize(std::size_t{m_runSectors} * kSector);
        std::uint32_t badLba = 0;
        if (!readRun(static_cast<std::uint32_t>(lba), sectors, bytes.data(), badLba)) {
            release(TPiece{TPieceKind::Bytes, {}, 0, buffer});
            return finishFile(index, TFileState::Unreadable, badLba);
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(left, sectors * kSector));
        {
            std::lock_guard lock(m_mutex);
            m_filled.push_back(TFilled{index, buffer, take});
        }
        m_changed.notify_all();
        left -= take;
        lba += sectors;
    }
    finishFile(index, TFileState::Done);
}

// One READ for the run; when it fails, sector by sector to find the one that cannot be read. A run all of
// whose sectors read alone was too long for the drive: later runs are kept to the safe length.
bool TDiscReadPipeline::readRun(std::uint32_t lba, std::uint32_t sectors, std::uint8_t* into,
                                std::uint32_t& badLba) {
    if (m_disc.readRun(lba, sectors, std::span<std::uint8_t>(into, std::size_t{sectors} * kSector)))
        return true;
    for (std::uint32_t i = 0; i < sectors; ++i) {
        if (!m_disc.read(lba + i,
                         std::span<std::uint8_t, kSector>(into + std::size_t{i} * kSector, kSector))) {
            badLba = lba + i;
            return false;
        }
    }
    if (sectors > kSafeRunSectors) m_runSectors = std::min(m_runSectors, kSafeRunSectors);
    return true;
}

}  // namespace brenwick
