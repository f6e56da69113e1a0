// The verify job: after write-done, the new session is read back through the drive on a worker thread,
// its directory tree parsed with the import's checks and every file of the run hashed against the
// manifest; only then is the Burn done (and the disc ejected). A failed verification is a failed backup.
#include <algorithm>

#include "app/workflow/TBackupWorkflow.h"
#include "app/workflow/TDiscRestore.h"
#include "app/workflow/TSizeFormat.h"
#include "drive/qrConst.h"
#include "isofs/qrManifest.h"
#include "isofs/qrSessionListing.h"

namespace brenwick {

namespace {

// "\yyyy-mm-dd hh.nn\" as a disc path: "/yyyy-mm-dd hh.nn".
std::string DiscFolder(const std::string& sessionFolder) {
    std::string folder = sessionFolder;
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    for (char& c : folder)
        if (c == '\\') c = '/';
    return folder;
}

}  // namespace

void TBackupWorkflow::startVerify() {
    joinVerify();
    log(">>> VERIFYING SESSION");
    m_verifyActive = true;
    m_verifyStop = false;
    m_verifiedBytes = 0;
    m_progress.process = ScaleGauge(m_gaugeMax, 0);
    publishProgress();
    setTimer(true);
    setState(TJobState::Verifying);
    const std::string folder = DiscFolder(m_sessionFolder);
    m_verifyThread = std::thread([this, folder] {
        TVerifyOutcome outcome;
        const auto fail = [&](const std::string& line) {
            ++outcome.failed;
            log(">>> " + line, kMsgError);
        };
        std::unique_ptr<TSessionDisc> disc = m_burner.OpenSessionDisc();
        TSessionListing listing;
        if (!disc || !ReadSessionListing(*disc, 0xFF, listing)) {
            fail("VERIFY: THE SESSION'S DIRECTORY DOES NOT READ BACK");
        } else if (ManifestStateOf(*disc, listing, folder) != TManifestState::Valid) {
            fail("VERIFY: " + folder + "/" + std::string(kManifestName) + " DOES NOT READ BACK");
        } else {
            TRestoreOptions o;
            o.Paths = {folder};
            o.CheckOnly = true;
            o.Stop = &m_verifyStop;
            o.Progress = &m_verifiedBytes;
            o.Log = [this](const std::string& line) { log(">>> " + line, kMsgError); };
            const TRestoreReport r = RestoreFromDisc(*disc, listing, o);
            outcome.stopped = r.Stopped;
            // The manifest itself is read but not listed in itself.
            outcome.failed += r.Mismatched + r.Unreadable + r.Missing;
            outcome.files = r.Restored - r.Unchecked + r.Mismatched + r.Unreadable + r.Missing;
            outcome.bytes = r.Bytes;
        }
        m_queue.post([this, outcome] { verifyDone(outcome); });
    });
}

void TBackupWorkflow::verifyDone(const TVerifyOutcome& outcome) {
    joinVerify();
    m_verifyActive = false;
    setTimer(false);
    setState(TJobState::Idle);
    m_report.filesVerified = std::max(outcome.files, outcome.failed);
    m_report.filesFailed = outcome.failed;
    if (outcome.stopped) {
        log("<<< VERIFY STOPPED", kMsgError);
        finishJob(TRunOutcome::Stopped, "VERIFY STOPPED");
        return;
    }
    if (outcome.failed > 0) {
        log("<<< VERIFY FAILED: " + std::to_string(outcome.failed) + " OF " +
                std::to_string(m_report.filesVerified) + " FILES",
            kMsgError);
        finishJob(TRunOutcome::VerifyFailed);
        return;
    }
    log("<<< VERIFY OK: " + std::to_string(outcome.files) + " FILES, " + MegabytesText(outcome.bytes));
    endRecorded();
}

void TBackupWorkflow::joinVerify() {
    if (m_verifyThread.joinable()) m_verifyThread.join();
}

}  // namespace brenwick
