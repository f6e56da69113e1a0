// TSCSIDevice: one wrapper per MMC command. Each builds one request (zeroed block, sense length 32, flags
// 40h/48h/50h), sends it with ExecuteCommand and reports success as a boolean; answers are copied out of the
// drive layer's buffers before the next command.
#include <algorithm>
#include <cstring>

#include "base/TReplyBuilder.h"
#include "base/TReplyReader.h"
#include "drive/qrDrvLib.h"

namespace brenwick {
namespace {

constexpr std::uint8_t kNoData = SRB_EVENT_NOTIFY;                 // 40h
constexpr std::uint8_t kDataIn = SRB_EVENT_NOTIFY | SRB_DIR_IN;    // 48h
constexpr std::uint8_t kDataOut = SRB_EVENT_NOTIFY | SRB_DIR_OUT;  // 50h

std::span<std::uint8_t> Cdb(TSrbExec& exec) {
    return std::span<std::uint8_t>(exec.Srb.CDBByte);
}

std::uint16_t SpeedField(unsigned x) {
    if (x == 0) return 0xFFFF;  // the drive's maximum
    return std::uint16_t(std::min<std::uint64_t>(std::uint64_t(x) * 177u, 0xFFFF));
}

}  // namespace

bool TSCSIDevice::TestUnitReady(unsigned timeoutMs) {
    auto exec = NewRequest(kNoData, 6, {});
    Cdb(exec)[0] = 0x00;
    ExecuteCommand(exec, timeoutMs);
    return Succeeded(exec);
}

bool TSCSIDevice::Inquiry() {
    auto exec = NewRequest(kDataIn, 6, std::span<std::uint8_t>(InquiryData.data(), 128));
    Cdb(exec)[0] = 0x12;
    Cdb(exec)[4] = 0x80;
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::ModeSense10(std::uint8_t page, bool defaultValues, std::uint8_t allocation,
                              std::span<std::uint8_t> destination) {
    std::fill(destination.begin(), destination.end(), 0);
    // A short answer must not leave bytes of an earlier answer behind.
    std::fill_n(m_transfer.begin(), allocation, 0);
    auto exec = NewRequest(kDataIn, 10, std::span<std::uint8_t>(m_transfer.data(), allocation));
    Cdb(exec)[0] = 0x5A;
    Cdb(exec)[2] = std::uint8_t((page & 0x3F) | (defaultValues ? 0x80 : 0x00));
    Cdb(exec)[8] = allocation;
    ExecuteCommand(exec, 20000);
    std::copy_n(m_transfer.begin(), std::min<std::size_t>(allocation, destination.size()),
                destination.begin());
    return Succeeded(exec);
}

bool TSCSIDevice::ModeSelect10(std::span<const std::uint8_t> data) {
    if (data.size() > 0xFF) return false;  // the length travels in one CDB byte
    std::copy(data.begin(), data.end(), m_transfer.begin());
    auto exec = NewRequest(kDataOut, 10, std::span<std::uint8_t>(m_transfer.data(), data.size()));
    Cdb(exec)[0] = 0x55;
    Cdb(exec)[1] = 0x10;  // page format
    Cdb(exec)[8] = std::uint8_t(data.size());
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::GetConfiguration(std::uint8_t requestType, std::uint16_t startingFeature,
                                   std::uint8_t allocation, std::span<std::uint8_t> buffer) {
    const std::uint8_t length = std::uint8_t(std::min<std::size_t>(allocation, buffer.size()));
    auto exec = NewRequest(kDataIn, 10, buffer.first(length));
    Cdb(exec)[0] = 0x46;
    Cdb(exec)[1] = requestType;
    Cdb(exec)[3] = std::uint8_t(startingFeature);
    Cdb(exec)[8] = length;
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::SetStreaming(std::span<const std::uint8_t> descriptor) {
    if (descriptor.size() > m_parameter.size()) return false;
    std::copy(descriptor.begin(), descriptor.end(), m_parameter.begin());
    auto exec = NewRequest(kDataOut, 12, std::span<std::uint8_t>(m_parameter.data(), descriptor.size()));
    Cdb(exec)[0] = 0xB6;
    PutBe16(Cdb(exec), 9, std::uint16_t(descriptor.size()));
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::FormatUnit(std::span<const std::uint8_t> parameterList) {
    if (parameterList.size() > m_parameter.size()) return false;
    std::copy(parameterList.begin(), parameterList.end(), m_parameter.begin());
    auto exec = NewRequest(kDataOut, 6, std::span<std::uint8_t>(m_parameter.data(), parameterList.size()));
    Cdb(exec)[0] = 0x04;
    Cdb(exec)[1] = 0x11;  // format data follow, format code 001b
    ExecuteCommand(exec, 20000);
    return Succeeded(exec);
}

bool TSCSIDevice::SendDvdStructure(std::uint8_t format, std::span<const std::uint8_t> data) {
    if (data.size() > m_transfer.size()) return false;
    std::vector<std::uint8_t> copy(data.begin(), data.end());
    auto exec = NewRequest(kDataOut, 12, copy);
    Cdb(exec)[0] = 0xBF;
    Cdb(exec)[7] = format;
    PutBe16(Cdb(exec), 8, std::uint16_t(data.size()));
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::ReadDvdStructure(std::span<std::uint8_t> buffer) {
    const auto length = std::min<std::size_t>(buffer.size(), 0xFFFF);
    auto exec = NewRequest(kDataIn, 12, buffer.first(length));
    Cdb(exec)[0] = 0xAD;
    Cdb(exec)[7] = 0x00;  // physical format information
    PutBe16(Cdb(exec), 8, std::uint16_t(length));
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::ReadCapacity(std::uint32_t& lastBlock, std::uint32_t& blockLength) {
    std::fill_n(m_parameter.begin(), 8, 0);
    auto exec = NewRequest(kDataIn, 10, std::span<std::uint8_t>(m_parameter.data(), 8));
    Cdb(exec)[0] = 0x25;
    ExecuteCommand(exec, 10000);
    if (!Succeeded(exec)) return false;
    TReplyReader reader(std::span<const std::uint8_t>(m_parameter.data(), 8));
    lastBlock = reader.be32(0);
    blockLength = reader.be32(4);
    return true;
}

bool TSCSIDevice::ReserveTrack(std::uint32_t blocks) {
    std::fill_n(m_parameter.begin(), 8, 0);
    auto exec = NewRequest(kDataIn, 10, std::span<std::uint8_t>(m_parameter.data(), 8));
    Cdb(exec)[0] = 0x53;
    PutBe32(Cdb(exec), 5, blocks);
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::Write10(std::uint32_t address, unsigned blockCount, std::uint8_t flags,
                          std::uint32_t byteLength, const std::uint8_t* buffer) {
    // The block count travels in CDB byte 8 alone; a larger count would silently write fewer blocks.
    if (blockCount > 0xFF || (byteLength != 0 && buffer == nullptr)) {
        LastError = std::string(kMsgInvalidRequest);
        return false;
    }
    auto exec = NewRequest(flags, 10, {});
    exec.Srb.SRB_BufLen = byteLength;
    exec.BufPointer = const_cast<std::uint8_t*>(buffer);  // data out: the provider only reads it
    exec.Srb.SRB_BufPointer = std::uint32_t(reinterpret_cast<std::uintptr_t>(buffer));
    Cdb(exec)[0] = 0x2A;
    PutBe32(Cdb(exec), 2, address);
    Cdb(exec)[8] = std::uint8_t(blockCount);
    if (ExecuteCommand(exec, 600000) == SS_REFUSED) return false;  // not sent: nothing was written
    return exec.Srb.SRB_Status == SS_COMP || exec.Srb.SRB_Status == SS_PENDING;
}

bool TSCSIDevice::Read10(std::uint32_t address, std::uint16_t blockCount, std::uint32_t byteLength,
                         std::uint8_t* buffer) {
    if (byteLength != 0 && buffer == nullptr) return false;
    auto exec = NewRequest(kDataIn, 10, std::span<std::uint8_t>(buffer, byteLength));
    Cdb(exec)[0] = 0x28;
    PutBe32(Cdb(exec), 2, address);
    PutBe16(Cdb(exec), 7, blockCount);
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::SynchronizeCache(unsigned timeoutMs) {
    auto exec = NewRequest(kNoData, 10, {});
    Cdb(exec)[0] = 0x35;
    ExecuteCommand(exec, timeoutMs);
    return Succeeded(exec);
}

bool TSCSIDevice::SetCdSpeed(unsigned readX, unsigned writeX) {
    auto exec = NewRequest(kNoData, 12, {});
    Cdb(exec)[0] = 0xBB;
    PutBe16(Cdb(exec), 2, SpeedField(readX));
    PutBe16(Cdb(exec), 4, SpeedField(writeX));
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::ReadBufferCapacity(std::uint32_t& bufferLength, std::uint32_t& blankLength) {
    std::fill_n(m_parameter.begin(), 32, 0);
    auto exec = NewRequest(kDataIn, 10, std::span<std::uint8_t>(m_parameter.data(), 32));
    Cdb(exec)[0] = 0x5C;
    Cdb(exec)[8] = 0x20;
    ExecuteCommand(exec, 10000);
    if (!Succeeded(exec)) return false;
    TReplyReader reader(std::span<const std::uint8_t>(m_parameter.data(), 32));
    bufferLength = reader.be32(4);
    blankLength = reader.be32(8);
    DeviceBufferSize = bufferLength;
    DeviceFreeBufferSize = blankLength;
    return true;
}

bool TSCSIDevice::ReadFormatCapacities(std::uint32_t& blocks, std::uint32_t& blockLength) {
    std::array<std::uint8_t, 12> answer{};
    auto exec = NewRequest(kDataIn, 10, answer);
    Cdb(exec)[0] = 0x23;
    Cdb(exec)[8] = 0x0C;
    ExecuteCommand(exec, 10000);
    if (!Succeeded(exec)) return false;
    TReplyReader reader(answer);
    blocks = reader.be32(4);
    blockLength = reader.be16(10);
    return true;
}

bool TSCSIDevice::ReadTrackInformation(std::uint32_t track) {
    std::array<std::uint8_t, TTrackInfo::kSize> answer{};
    auto exec = NewRequest(kDataIn, 10, answer);
    Cdb(exec)[0] = 0x52;
    Cdb(exec)[1] = 0x01;  // the address is a track number
    PutBe32(Cdb(exec), 2, track);
    Cdb(exec)[8] = 0x24;
    ExecuteCommand(exec, 10000);
    TrackInfo.Parse(answer);
    return Succeeded(exec);
}

bool TSCSIDevice::ReadDiscInformation() {
    std::array<std::uint8_t, TDiscInfo::kSize> answer{};
    auto exec = NewRequest(kDataIn, 10, answer);
    Cdb(exec)[0] = 0x51;
    Cdb(exec)[8] = 0x38;
    ExecuteCommand(exec, 10000);
    DiscInfo.Parse(answer);
    return Succeeded(exec);
}

bool TSCSIDevice::ReadToc(std::uint8_t format, std::span<std::uint8_t> buffer, bool msf,
                          std::uint8_t trackOrSession, std::uint8_t allocation, std::uint8_t control) {
    const std::uint8_t length = std::uint8_t(std::min<std::size_t>(allocation, buffer.size()));
    auto exec = NewRequest(kDataIn, 10, buffer.first(length));
    Cdb(exec)[0] = 0x43;
    Cdb(exec)[1] = msf ? 0x02 : 0x00;
    Cdb(exec)[2] = format;
    Cdb(exec)[6] = trackOrSession;
    Cdb(exec)[8] = length;
    Cdb(exec)[9] = control;
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

bool TSCSIDevice::SendOpcInformation() {
    auto exec = NewRequest(kNoData, 10, {});
    Cdb(exec)[0] = 0x54;
    Cdb(exec)[1] = 0x01;  // do OPC
    ExecuteCommand(exec, 150000);
    return Succeeded(exec);
}

bool TSCSIDevice::CloseSession() {
    auto exec = NewRequest(kNoData, 10, {});
    Cdb(exec)[0] = 0x5B;
    Cdb(exec)[1] = 0x01;  // immediate
    Cdb(exec)[2] = 0x02;  // close session
    ExecuteCommand(exec, 180000);
    return Succeeded(exec);
}

bool TSCSIDevice::CloseTrackSession(std::uint8_t function, std::uint16_t track) {
    auto exec = NewRequest(kNoData, 10, {});
    Cdb(exec)[0] = 0x5B;
    Cdb(exec)[1] = 0x01;  // immediate
    Cdb(exec)[2] = function & 0x07;
    Cdb(exec)[4] = std::uint8_t(track >> 8);
    Cdb(exec)[5] = std::uint8_t(track);
    ExecuteCommand(exec, 180000);
    return Succeeded(exec);
}

bool TSCSIDevice::StartStopUnit(bool eject) {
    auto exec = NewRequest(kNoData, 6, {});
    Cdb(exec)[0] = 0x1B;
    Cdb(exec)[4] = eject ? 0x02 : 0x03;
    ExecuteCommand(exec, 20000);
    return Succeeded(exec);
}

bool TSCSIDevice::PreventAllowRemoval(bool allow) {
    auto exec = NewRequest(kNoData, 6, {});
    Cdb(exec)[0] = 0x1E;
    Cdb(exec)[4] = allow ? 0x00 : 0x01;
    ExecuteCommand(exec, 10000);
    return Succeeded(exec);
}

}  // namespace brenwick
