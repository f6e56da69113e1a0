// The image recorder's command execution: gates every CDB (vanished drive, folder lock, injected faults,
// unit attention, busy operations, medium present) before its handler, and logs it.
#include "drive/recorder/TImageRecorder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "drive/recorder/RecorderCore.h"
#include "drive/recorder/TRecorderFolder.h"

namespace brenwick {

TBusyTimes InstantBusyTimes() {
    return TBusyTimes{0, 0, 0, 0, 0};
}

TOutcome Good() {
    return TOutcome{};
}

TOutcome Reply(TReplyBuilder&& reply, std::size_t allocation) {
    TOutcome outcome;
    outcome.data = std::move(reply.bytes());
    if (outcome.data.size() > allocation) outcome.data.resize(allocation);
    return outcome;
}

TOutcome Check(TSenseCode sense) {
    TOutcome outcome;
    outcome.status = kStatusCheckCondition;
    outcome.sense = sense;
    return outcome;
}

TOutcome CheckAt(TSenseCode sense, std::uint32_t lba) {
    TOutcome outcome = Check(sense);
    outcome.infoValid = true;
    outcome.info = lba;
    return outcome;
}

TOutcome BusyStatus() {
    TOutcome outcome;
    outcome.status = kStatusBusy;
    return outcome;
}

// ---- loading and saving ----

namespace {

// Blocks the image must hold for the state to be true: the end of the last recorded data.
std::int64_t RecordedBlocks(const TDiscState& disc) {
    if (!disc.isSequential()) return disc.traits().recording == TRecording::Random ? disc.recordedEnd : 0;
    std::int64_t end = 0;
    for (const auto& track : disc.tracks)
        end = std::max<std::int64_t>(end, track.start + track.blocks - track.runOut);
    return end;
}

}  // namespace

const TBusyTimes& TRecorderCore::busyTimes() const {
    return options.busy ? *options.busy : state.settings.busy;
}

unsigned TRecorderCore::speedSetting() const {
    return options.speedX ? *options.speedX : state.settings.speedX;
}

void TRecorderCore::ConfigureBuffer() {
    const unsigned x = speedSetting();
    const std::uint64_t unit = disc().traits().family == TMediaFamily::Dvd ? kDvdSpeed1x : kCdSpeed1x;
    std::uint64_t rate = std::uint64_t(x) * unit * 1000u;
    // The initiator's speed choice caps the drive's, as SET CD SPEED does on a real drive.
    if (rate != 0 && writeSpeedSelected != 0xFFFF && writeSpeedSelected != 0)
        rate = std::min<std::uint64_t>(rate, std::uint64_t(CurrentWriteSpeed()) * 1000u);
    buffer.Configure(state.settings.bufferBytes, rate);
}

void TRecorderCore::ResetVolatile() {
    DefaultPage05(page05);
    simulation.reset();
    preGapNext = -150;
    ConfigureBuffer();
}

bool TRecorderCore::EnsureLoaded() {
    if (loaded) return true;
    std::string error;
    const TLockResult locked = lock.Acquire(folder, error);
    if (locked != TLockResult::Locked) {
        lastError = error;
        return false;
    }
    TRecorderState fresh;
    if (!LoadStateFile(folder, fresh, error)) {
        lastError = error;
        lock.Release();
        return false;
    }
    if (fresh.disc.hasDisc()) {
        const bool pressed = fresh.disc.traits().recording == TRecording::ReadOnly;
        const std::string path =
            !fresh.image.empty() && fresh.image.front() == '/' ? fresh.image : folder + "/" + fresh.image;
        const std::int64_t needed = RecordedBlocks(fresh.disc);
        struct stat st {};
        if (needed > 0 && ::stat(path.c_str(), &st) != 0) {
            lastError = "the disc image " + path + " is missing: the disc cannot be read";
            lock.Release();
            return false;
        }
        if (!image.Open(path, pressed ? TImageAccess::ReadOnly : TImageAccess::ReadWrite, error)) {
            lastError = error;
            lock.Release();
            return false;
        }
        if (image.sizeInBlocks() < needed && !pressed) {
            lastError = "the disc image " + path + " is shorter than the recorded tracks: it was damaged";
            image.Close();
            lock.Release();
            return false;
        }
    }
    const bool discChanged = parked && fresh.disc.hasDisc() && !fresh.disc.trayOpen;
    state = std::move(fresh);
    loaded = true;
    parked = false;
    lastError.clear();
    ResetVolatile();
    if (discChanged) {
        // The disc was loaded while this process did not hold the recorder: report it as a medium change.
        unitAttention = true;
        newMediaEvent = true;
    }
    return true;
}

void TRecorderCore::ParkIfOpenOrEmpty() {
    if (!loaded || busy != TBusyKind::None || (state.disc.hasDisc() && !state.disc.trayOpen)) return;
    Unload();
    parked = true;
}

void TRecorderCore::Unload() {
    if (!loaded) return;
    std::string error;
    if (image.isOpen() && !image.Sync(error)) lastError = error;
    image.Close();
    loaded = false;
    savedState.clear();  // another program may change the state file while the lock is let go
    lock.Release();
}

bool TRecorderCore::Save() {
    // Whatever the state file is about to claim must be in the image first.
    if (!SyncImage(*this)) return false;
    // The state file is replaced (and synced) only when it changes: a recording's end sends several
    // commands that each make it durable, and only the first of them has anything new to say.
    std::string text = FormatState(state);
    if (text == savedState) return true;
    std::string error;
    if (!WriteFileAtomically(folder + "/" + kStateFileName, text, error)) {
        lastError = error;
        savedState.clear();
        return false;
    }
    savedState = std::move(text);
    return true;
}

void TRecorderCore::StartBusy(TBusyKind kind, std::uint32_t ms) {
    busy = kind;
    busyStart = clock->Now();
    busyMs = ms;
    busyPolls = 0;
}

TOutcome TRecorderCore::BusyOutcome() {
    TSenseCode code = kOperationInProgress;
    if (busy == TBusyKind::Format) code = kFormatInProgress;
    if (busy == TBusyKind::Load) code = kBecomingReady;
    TOutcome outcome = Check(code);
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(clock->Now() - busyStart);
    std::uint64_t fraction = busyMs == 0 ? 0 : std::uint64_t(elapsed.count()) * 65536u / busyMs;
    outcome.progressValid = busy != TBusyKind::Load;
    outcome.progress = std::uint16_t(std::min<std::uint64_t>(fraction, 0xFFFF));
    return outcome;
}

bool TRecorderCore::IsBusy() {
    if (busy == TBusyKind::None) return false;
    const auto elapsed = clock->Now() - busyStart;
    if (elapsed >= std::chrono::milliseconds(busyMs) && busyPolls >= options.minBusyPolls) {
        if (busy == TBusyKind::Load) {
            // A disc that became ready after loading reports the change once, as real drives do.
            unitAttention = true;
        }
        busy = TBusyKind::None;
        return false;
    }
    return true;
}

// ---- the recorder ----

TImageRecorder::TImageRecorder(std::string folder, TRecorderOptions options)
    : m_folder(std::move(folder)), m_core(std::make_unique<TRecorderCore>()) {
    m_core->folder = m_folder;
    m_core->clock = options.clock ? options.clock : MakeSteadyClock();
    m_core->log = TCommandLog(options.commandLogLimit);
    m_core->options = std::move(options);
    m_core->faultFile.setFolder(m_folder);
    m_core->DefaultPage05(m_core->page05);
    (void)m_core->EnsureLoaded();  // a busy or broken recorder is retried at each command
    m_core->ParkIfOpenOrEmpty();
}

TImageRecorder::~TImageRecorder() {
    std::lock_guard guard(m_mutex);
    // As a real drive finishes writing what it received when the host goes away, the blocks written so far
    // stay on the disc; only a crash of the process loses those written since the last synchronisation.
    if (m_core->loaded) (void)m_core->Save();
    m_core->Unload();
}

std::vector<TCommandLogEntry> TImageRecorder::CommandLog() const {
    std::lock_guard guard(m_mutex);
    return m_core->log.Entries();
}

void TImageRecorder::ClearCommandLog() {
    std::lock_guard guard(m_mutex);
    m_core->log.Clear();
}

TDiscState TImageRecorder::Disc() const {
    std::lock_guard guard(m_mutex);
    return m_core->state.disc;
}

std::string TImageRecorder::LastError() const {
    std::lock_guard guard(m_mutex);
    if (!m_core->faultFile.error().empty()) return m_core->faultFile.error();
    return m_core->lastError;
}

void TImageRecorder::Release() {
    std::lock_guard guard(m_mutex);
    if (m_core->loaded) (void)m_core->Save();
    m_core->Unload();
}

namespace {

// The key fields the log keeps: address and transfer length where the command has them.
void FillLogFields(const TReplyReader& cdb, TCommandLogEntry& entry) {
    const TCommandEntry* command = FindCommand(entry.opcode);
    switch (command != nullptr ? command->log : TLogFields::None) {
        case TLogFields::Address32Length16:
            entry.lba = std::int32_t(cdb.be32(2));
            entry.length = cdb.be16(7);
            break;
        case TLogFields::Address32Length32:
            entry.lba = std::int32_t(cdb.be32(2));
            entry.length = cdb.be32(6);
            break;
        case TLogFields::Length32At5:
            entry.length = cdb.be32(5);
            break;
        case TLogFields::CloseTrack:
            entry.lba = cdb.be16(4);
            entry.length = cdb.u8(2) & 0x07;
            break;
        case TLogFields::Blank:
            entry.lba = std::int32_t(cdb.be32(2));
            entry.length = cdb.u8(1) & 0x07;
            break;
        case TLogFields::Length8At4:
            entry.length = cdb.u8(4);
            break;
        case TLogFields::Toc:
            entry.lba = cdb.u8(6);
            entry.length = cdb.be16(7);
            break;
        case TLogFields::Length16At7:
            entry.length = cdb.be16(7);
            break;
        case TLogFields::None:
            break;
    }
}

bool ExemptFromMediumGate(const TRecorderCore& core) {
    return core.loaded && core.state.disc.hasDisc();
}

TOutcome Gate(TRecorderCore& core, const TCommand& command, std::uint8_t opcode) {
    TFaults& faults = core.faultFile.Current();
    if (core.faultFile.generation() != core.faultGeneration) {
        // A changed fault file starts its counts afresh; a drive that vanished comes back without the fault.
        core.faultGeneration = core.faultFile.generation();
        core.writesSinceFaults = 0;
        core.vanished = faults.vanishAfterWrites && *faults.vanishAfterWrites == 0;
    }
    if (core.vanished) return TOutcome{};  // the caller answers with a host status
    if (faults.isIllegal(opcode)) return Check(kInvalidOpcode);
    const TCommandEntry* entry = FindCommand(opcode);
    if (!entry) return Check(kInvalidOpcode);
    if (command.cdb.size() < entry->cdbLength) return Check(kInvalidFieldInCdb);
    if (!core.EnsureLoaded()) {
        if (entry->flags & kAnswersUnloaded) return entry->handler(core, command);
        return Check(kNotReadyCause);
    }
    if (!(entry->flags & kRunsWhileBusy) && core.IsBusy()) {
        ++core.busyPolls;
        return core.BusyOutcome();
    }
    if (core.unitAttention && !(entry->flags & kNoAttention)) {
        core.unitAttention = false;
        return Check(kMediumMayHaveChanged);
    }
    if (entry->flags & kNeedsMedium) {
        if (faults.notReady > 0) {
            --faults.notReady;
            return Check(kBecomingReady);
        }
        if (core.state.disc.trayOpen) return Check(kNoMediumTrayOpen);
        if (!ExemptFromMediumGate(core)) return Check(kNoMediumTrayClosed);
    }
    return entry->handler(core, command);
}

}  // namespace

TScsiResult TImageRecorder::Execute(const TScsiRequest& request) {
    std::lock_guard guard(m_mutex);
    TRecorderCore& core = *m_core;
    TScsiResult result;
    TCommandLogEntry entry;
    const std::size_t cdbLength = std::min<std::size_t>(request.cdb.size(), entry.cdb.size());
    std::copy_n(request.cdb.begin(), cdbLength, entry.cdb.begin());
    entry.cdbLength = std::uint8_t(cdbLength);

    TCommand command{TReplyReader(request.cdb), {}, {}};
    if (request.direction == TDataDirection::Out) command.dataOut = request.data;
    if (request.direction == TDataDirection::In) command.dataIn = request.data;
    entry.opcode = request.cdb.empty() ? 0 : request.cdb[0];
    FillLogFields(command.cdb, entry);

    TOutcome outcome;
    if (request.cdb.empty()) {
        outcome = Check(kInvalidOpcode);
    } else {
        outcome = Gate(core, command, entry.opcode);
    }
    if (core.vanished) {
        result.hostStatus = kHostSelectionTimeout;
    } else {
        result.status = outcome.status;
        if (outcome.status == kStatusCheckCondition) {
            TSenseFields fields;
            fields.code = outcome.sense;
            fields.infoValid = outcome.infoValid;
            fields.info = outcome.info;
            fields.progressValid = outcome.progressValid;
            fields.progress = outcome.progress;
            EncodeFixedSense(fields, result.sense);
            result.senseLength = kFixedSenseLength;
        } else if (request.direction == TDataDirection::In) {
            const std::size_t n = std::min(outcome.data.size(), request.data.size());
            std::copy_n(outcome.data.begin(), n, request.data.begin());
            result.transferred = outcome.dataInPlace != 0 ? outcome.dataInPlace : n;
        } else if (request.direction == TDataDirection::Out && outcome.status == kStatusGood) {
            result.transferred = request.data.size();
        }
    }
    core.ParkIfOpenOrEmpty();
    entry.status = result.status;
    entry.hostStatus = result.hostStatus;
    entry.senseKey = result.sense[2] & 0x0F;
    entry.asc = result.sense[12];
    entry.ascq = result.sense[13];
    entry.transferred = result.transferred;
    core.log.Add(entry);
    return result;
}

std::unique_ptr<TImageRecorder> MakeImageRecorder(const std::string& folder, TMediaType media,
                                                  TRecorderOptions options, std::string& error) {
    if (!CreateRecorder(folder, media, error)) return nullptr;
    auto recorder = std::make_unique<TImageRecorder>(folder, std::move(options));
    const std::string problem = recorder->LastError();
    if (!problem.empty()) {
        error = problem;
        return nullptr;
    }
    return recorder;
}

}  // namespace brenwick
