// A scripted burner for workflow tests: answers as told, records every call, and raises the burner's
// events from a worker thread of its own, as the write and erase threads do.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/workflow/TBurnerAccess.h"

namespace brenwick::testing {

class TScriptedBurner : public TBurnerAccess {
  public:
    ~TScriptedBurner() override { join(); }

    // ---- the script ----
    bool ready = true;
    bool transport = true;
    int discType = 3;  // CD-RW
    bool erasable = true;
    std::uint32_t capacity = 359847, used = 0, freeSectors = 359847;
    int sessions = 0;
    std::int64_t imageSectors = 1000;
    bool prepareResult = true;
    TInterruptedSession interrupted;  // what CloseInterruptedSession finds and does (planned as Pending)
    TDiscContents discContents;       // what ReadDiscContents reports
    bool becomesReady = false;        // what WaitBecomingReady does after a failed TestUnitReady
    bool trayOpen = false;            // not ready because the tray is open, until a load
    bool loadMakesReady = true;       // a load closes the tray over a disc
    std::vector<std::string> devices = {"8:0:0,image:default BRENWICKIMAGE RECORDER   1.0 "};
    int leftOut = 0;
    // What ForceDirectory does: Counted refuses and counts the item in LeftOutCount, as the tree does for
    // a limit or a name too long; Uncounted refuses without counting it.
    enum class TForce { Ok, Counted, Uncounted } forceMode = TForce::Ok;
    // What EraseDisc does: Start runs an erase thread that ends with eraseError; Reject raises OnEraseDone
    // on the caller's thread and returns false; GiveUp returns false with no event.
    enum class TErase { Start, Reject, GiveUp } eraseMode = TErase::Start;
    bool eraseError = false;
    // What BurnCD does: Start runs a write thread that ends with writeError (or the abort text when the
    // abort flag is seen); CacheFails raises OnWriteDone on the caller's thread and returns false.
    enum class TBurn { Start, CacheFails } burnMode = TBurn::Start;
    std::string writeError;
    TWriteEnd writeEnd = TWriteEnd::Done;
    std::function<void()> duringBurnCD;     // runs inside BurnCD, on the caller's thread
    std::function<void()> writeThreadBody;  // replaces the default write thread's work
    std::atomic<bool> abortFlag{false};
    std::atomic<std::int64_t> bytesWritten{0};
    std::atomic<int> cacheFill{0};
    std::atomic<std::uint32_t> bufferSize{0}, bufferFree{0};
    int incompleteFiles = 0;
    std::atomic<bool> erasing{false};
    std::atomic<int> eraseProgress{0};
    std::string driveInUse;  // what HoldDrive answers: the path of a drive in use ("" holds it)
    int holds = 0, releases = 0;

    // ---- what happened ----
    std::vector<std::string> calls;  // owner-thread calls, in order
    std::string idVolume;
    TDateTime dateCreation = 0, dateModification = 0;
    std::int16_t sessionImport = 0;
    bool finalizeDisc = false;
    int addedFiles = 0, addedDirs = 0;
    std::atomic<int> abortCalls{0};

    TBurnerEvents events;

    void join() {
        if (m_worker.joinable()) m_worker.join();
    }
    // Raises an event on a new worker thread (after any earlier one ended).
    void onWorker(std::function<void()> body) {
        join();
        m_worker = std::thread(std::move(body));
    }
    void raiseWriteDone(TWriteEnd end, const std::string& error) {
        if (events.OnFinalizingTrack) events.OnFinalizingTrack();
        if (events.OnWriteDone) events.OnWriteDone(error, end);
    }

    // ---- TBurnerAccess ----
    void SetEvents(TBurnerEvents e) override { events = std::move(e); }
    bool ASPIInitialized() const override { return transport; }
    std::vector<std::string> DeviceList() const override { return devices; }
    void SelectDevice(const std::string& entry) override {
        calls.push_back("SelectDevice " + entry);
        ready = ready && !entry.empty();
    }
    bool TestUnitReady(unsigned) override {
        calls.push_back("TestUnitReady");
        return ready;
    }
    bool TrayOpen() const override { return trayOpen && !ready; }
    bool WaitBecomingReady(int) override {
        calls.push_back("WaitBecomingReady");
        if (becomesReady) ready = true;
        return becomesReady;
    }
    int GetDiscType() override { return discType; }
    bool IsDiscErasable() override { return erasable; }
    bool IsDiscAtOnceOnlyDvdRw() override { return false; }
    bool IsUnformattedDvdPlusRw() override { return false; }
    std::uint32_t GetDiscCapacity() override { return capacity; }
    std::uint32_t GetUsedSectors() override { return used; }
    std::uint32_t GetFreeSectors() override { return freeSectors; }
    int GetSessionCount() override { return sessions; }
    bool SynchronizeCache(unsigned) override {
        calls.push_back("SynchronizeCache");
        return true;
    }
    bool StartStopUnit(bool eject) override {
        calls.push_back(eject ? "Eject" : "Load");
        if (!eject && trayOpen) {
            trayOpen = false;
            ready = loadMakesReady;
        }
        return true;
    }
    std::string HoldDrive() override {
        ++holds;
        return driveInUse;
    }
    void ReleaseDrive() override { ++releases; }
    bool EraseDisc(int blankType) override {
        calls.push_back("EraseDisc " + std::to_string(blankType));
        if (eraseMode == TErase::GiveUp) return false;
        if (eraseMode == TErase::Reject) {
            if (events.OnEraseDone) events.OnEraseDone(true);
            return false;
        }
        erasing = true;
        onWorker([this] {
            eraseProgress = 50;
            erasing = false;
            if (events.OnEraseDone) events.OnEraseDone(eraseError);
        });
        return true;
    }
    bool Erasing() const override { return erasing; }
    int EraseProgress() const override { return eraseProgress; }
    void ClearCompilation() override {
        calls.push_back("ClearCompilation");
        addedFiles = addedDirs = 0;
    }
    bool ForceDirectory(const std::string& path) override {
        calls.push_back("ForceDirectory " + path);
        if (forceMode == TForce::Counted) ++leftOut;
        return forceMode == TForce::Ok;
    }
    int AddFile(const std::string& destination, const std::string& source) override {
        calls.push_back("AddFile " + destination + " " + source);
        ++addedFiles;
        return 1;
    }
    int AddFolder(const std::string& destination, const std::string& source) override {
        calls.push_back("AddFolder " + destination + " " + source);
        ++addedDirs;
        return 1;
    }
    int DirectoryCount() const override { return addedDirs + (addedFiles > 0 ? 1 : 0); }
    int EntryCount() const override { return addedFiles + addedDirs; }
    int LeftOutCount() const override { return leftOut; }
    int NewFileCount() const override { return addedFiles; }
    std::unique_ptr<TSessionDisc> OpenSessionDisc() override { return nullptr; }
    bool AddManifest(const std::string& folder, TDateTime) override {
        calls.push_back("AddManifest " + folder);
        return true;
    }
    void SetIdVolume(const std::string& volume) override { idVolume = volume; }
    void SetDateCreation(TDateTime date) override { dateCreation = date; }
    void SetDateModification(TDateTime date) override { dateModification = date; }
    void SetSessionImport(std::int16_t selector) override { sessionImport = selector; }
    void SetFinalizeDisc(bool finalize) override { finalizeDisc = finalize; }
    TInterruptedSession PlanInterruptedSession() override {
        TInterruptedSession plan = interrupted;
        if (plan.result != TInterruptedClose::NotNeeded) plan.result = TInterruptedClose::Pending;
        return plan;
    }
    TInterruptedSession CloseInterruptedSession() override {
        if (interrupted.result != TInterruptedClose::NotNeeded) calls.push_back("CloseInterruptedSession");
        return interrupted;
    }
    TDiscContents ReadDiscContents() override { return discContents; }
    bool Prepare() override {
        calls.push_back("Prepare import=" + std::to_string(sessionImport));
        return prepareResult;
    }
    std::int64_t ImageSectors() const override { return imageSectors; }
    bool BurnCD() override {
        calls.push_back("BurnCD");
        if (duringBurnCD) duringBurnCD();
        if (burnMode == TBurn::CacheFails) {
            if (events.OnWriteDone) events.OnWriteDone("INTERNAL ERROR 0002", TWriteEnd::WriterError);
            return false;
        }
        onWorker([this] {
            if (writeThreadBody) {
                writeThreadBody();
                return;
            }
            abortFlag = false;  // the write thread clears the flag as it starts
            bytesWritten = imageSectors * 2048;
            raiseWriteDone(writeEnd, writeError);
        });
        return true;
    }
    void AbortWrite() override {
        ++abortCalls;
        abortFlag = true;
    }
    std::int64_t BytesWritten() const override { return bytesWritten; }
    int CacheFillPercent() const override { return cacheFill; }
    std::uint32_t DeviceBufferSize() const override { return bufferSize; }
    std::uint32_t DeviceFreeBufferSize() const override { return bufferFree; }
    int IncompleteFileCount() const override { return incompleteFiles; }
    std::uint32_t ReadDriveBufferSize() override {
        bufferFree = bufferSize.load();
        return bufferSize;
    }

  private:
    std::thread m_worker;
};

}  // namespace brenwick::testing
