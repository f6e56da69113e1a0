// The workflow's access to the real burner component: forwards each call to TQrvBurner with the settings
// the backup jobs use (AddFolder: all files, recursive, archive attribute ignored, destination not derived).
#pragma once

#include <optional>

#include "app/workflow/TBurnerAccess.h"
#include "engine/qrBurnerDisc.h"
#include "engine/qrCDBC.h"

namespace brenwick {

// Loads the transport once and enumerates the drives; returns ASPIInitialized.
bool ReinitializeDrives(TQrvBurner& burner);

class TQrvBurnerAccess : public TBurnerAccess {
  public:
    explicit TQrvBurnerAccess(TQrvBurner& burner) : m_cd(burner) {}

    TQrvBurner& Burner() { return m_cd; }

    void SetEvents(TBurnerEvents events) override;
    bool ASPIInitialized() const override { return m_cd.ASPIInitialized(); }
    std::vector<std::string> DeviceList() const override { return m_cd.DeviceList; }
    void SelectDevice(const std::string& entry) override { m_cd.SelectDevice(entry); }
    bool TestUnitReady(unsigned timeoutMs) override { return m_cd.TestUnitReady(timeoutMs); }
    bool WaitBecomingReady(int budgetMs) override;
    bool TrayOpen() const override { return m_cd.LastSenseValue.is(kNoMediumTrayOpen); }
    int GetDiscType() override { return m_cd.GetDiscType(); }
    bool IsDiscErasable() override { return m_cd.IsDiscErasable(); }
    bool IsDiscAtOnceOnlyDvdRw() override;
    bool IsUnformattedDvdPlusRw() override { return m_cd.IsUnformattedDvdPlusRw(); }
    std::uint32_t GetDiscCapacity() override { return m_cd.GetDiscCapacity(); }
    std::uint32_t GetUsedSectors() override { return m_cd.GetUsedSectors(); }
    std::uint32_t GetFreeSectors() override { return m_cd.GetFreeSectors(); }
    int GetSessionCount() override { return m_cd.GetSessionCount(); }
    bool SynchronizeCache(unsigned timeoutMs) override { return m_cd.SynchronizeCache(timeoutMs); }
    bool StartStopUnit(bool eject) override { return m_cd.StartStopUnit(eject); }
    std::string HoldDrive() override;
    void ReleaseDrive() override;
    bool EraseDisc(int blankType) override { return m_cd.EraseDisc(blankType); }
    bool Erasing() const override { return m_cd.Erasing; }
    int EraseProgress() const override { return m_cd.EraseProgress(); }
    void ClearCompilation() override { m_cd.ClearCompilation(); }
    bool ForceDirectory(const std::string& path) override { return m_cd.ForceDirectory(path) != nullptr; }
    int AddFile(const std::string& destination, const std::string& source) override {
        return m_cd.AddFile(destination, source, false);
    }
    int AddFolder(const std::string& destination, const std::string& source) override {
        return m_cd.AddFolder(destination, source, false, false, true, 63, "*.*");
    }
    int DirectoryCount() const override { return m_cd.DirectoryCount(); }
    int EntryCount() const override { return m_cd.EntryCount(); }
    int LeftOutCount() const override { return m_cd.LeftOutCount(); }
    int NewFileCount() const override;
    std::unique_ptr<TSessionDisc> OpenSessionDisc() override { return std::make_unique<TBurnerDisc>(m_cd); }
    bool AddManifest(const std::string& folder, TDateTime dateTime) override {
        return m_cd.Compilation().AddManifest(m_cd.FindDirectory(folder), dateTime) != nullptr;
    }
    void SetIdVolume(const std::string& volume) override { m_cd.IdVolume = volume; }
    void SetDateCreation(TDateTime date) override { m_cd.DateCreation = date; }
    void SetDateModification(TDateTime date) override { m_cd.DateModification = date; }
    void SetSessionImport(std::int16_t selector) override { m_cd.SessionToImport = selector; }
    void SetFinalizeDisc(bool finalize) override { m_cd.FinalizeDisc = finalize; }
    TInterruptedSession PlanInterruptedSession() override { return m_cd.PlanInterruptedSession(); }
    TInterruptedSession CloseInterruptedSession() override { return m_cd.CloseInterruptedSession(); }
    TDiscContents ReadDiscContents() override;
    bool Prepare() override { return m_cd.Prepare(); }
    std::int64_t ImageSectors() const override { return m_cd.ImageSectors; }
    TDiscSpace ReadDiscSpace(std::int64_t sessionSectors) override {
        return brenwick::ReadDiscSpace(m_cd, sessionSectors);
    }
    bool BurnCD() override { return m_cd.BurnCD(); }
    void AbortWrite() override { m_cd.AbortWrite(); }
    std::int64_t BytesWritten() const override { return m_cd.BytesWritten(); }
    int CacheFillPercent() const override { return m_cd.CacheFillPercent(); }
    std::uint32_t DeviceBufferSize() const override { return m_cd.DeviceBufferSize.load(); }
    std::uint32_t DeviceFreeBufferSize() const override { return m_cd.DeviceFreeBufferSize.load(); }
    int IncompleteFileCount() const override { return m_cd.IncompleteFileCount(); }
    std::uint32_t ReadDriveBufferSize() override;

  private:
    TQrvBurner& m_cd;
    struct THeld {
        std::uint8_t adapter, target, lun;
    };
    std::optional<THeld> m_held;  // the drive HoldDrive holds
};

}  // namespace brenwick
