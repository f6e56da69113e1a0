// The transport: the ordered provider list and the process-wide transport state.
#include "drive/qrASPI.h"

#include <utility>

#include "drive/qrConst.h"
#include "drive/qrSPTI.h"

namespace brenwick {
namespace {

struct TTransportState {
    bool loaded = false;
    std::string layerName;
    TSupportInfoFn supportInfo;
    TSendCommandFn sendCommand;
    std::vector<TTransportProvider> providers;  // empty: the default list
};

TTransportState& State() {
    static TTransportState state;
    return state;
}

}  // namespace

std::vector<TTransportProvider> DefaultTransportProviders() {
    // No ASPI library exists on this platform: the emulation over SG_IO is the only provider. It counts
    // as loaded when its scan finds a kernel drive or an image recorder.
    TTransportProvider emulation;
    emulation.layerName = std::string(kLayerEmulation);
    emulation.load = [] { return ScanSptiDrives() > 0; };
    emulation.supportInfo = [] { return SptiSupportInfo(); };
    emulation.sendCommand = [](void* srb) { return SptiSendCommand(srb); };
    return {std::move(emulation)};
}

void SetTransportProviders(std::vector<TTransportProvider> providers) {
    State().providers = std::move(providers);
}

bool LoadTransport() {
    auto& state = State();
    if (state.loaded) return true;
    const auto providers = state.providers.empty() ? DefaultTransportProviders() : state.providers;
    for (const auto& provider : providers) {
        if (!provider.load || !provider.supportInfo || !provider.sendCommand) continue;
        if (!provider.load()) continue;
        state.layerName = provider.layerName;
        state.supportInfo = provider.supportInfo;
        state.sendCommand = provider.sendCommand;
        state.loaded = true;
        (void)state.supportInfo();  // called once at load, as the providers expect; the count is read later
        return true;
    }
    return false;
}

bool ASPIInitialized() {
    return State().loaded;
}

const std::string& TransportLayerName() {
    return State().layerName;
}

std::uint32_t GetASPI32SupportInfo() {
    const auto& state = State();
    if (!state.loaded) return std::uint32_t(SS_NO_ADAPTERS) << 8;
    return state.supportInfo();
}

std::uint32_t SendASPI32Command(void* srb) {
    const auto& state = State();
    if (srb == nullptr) return SS_ERR;
    if (!state.loaded) {
        static_cast<std::uint8_t*>(srb)[1] = SS_INVALID_SRB;  // SRB_Status of every block
        return SS_INVALID_SRB;
    }
    return state.sendCommand(srb);
}

void ShutdownTransport() {
    auto& state = State();
    state = TTransportState{};
    CloseSptiDrives();
    SetSptiOs(nullptr);
    SetExtraTargetSource(nullptr);
}

}  // namespace brenwick
