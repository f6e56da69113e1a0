// The setup every front end shares.
#include "app/workflow/TFrontEndSetup.h"

namespace brenwick {

void ConfigureBurner(TQrvBurner& cd) {
    cd.DoDebug = true;
    cd.UnderrunProtection = true;
    cd.ReadSpeed = 0;
    cd.WriteSpeed = 0;
    cd.FinalizeDisc = false;
    cd.TestWrite = false;
    cd.ReplaceFile = false;
    cd.PerformOPC = false;
    cd.SetCacheSize(kMainWindowCacheSize);
}

void ApplyProfile(const TBackupProfile& profile, TWorkflowOptions& options) {
    options.Archives = profile.Archives;
    options.EraseBefore = profile.EraseBefore;
    options.Import = profile.Import;
    options.CloseDisc = profile.CloseDisc;
    options.EjectDisc = profile.EjectDisc;
    options.Verify = profile.Verify;
    options.Volume = profile.Volume;
}

void StoreOptions(const TWorkflowOptions& options, TBackupProfile& profile) {
    profile.Archives = options.Archives;
    profile.EraseBefore = options.EraseBefore;
    profile.Import = options.Import;
    profile.CloseDisc = options.CloseDisc;
    profile.EjectDisc = options.EjectDisc;
    profile.Verify = options.Verify;
    profile.Volume = options.Volume;
}

}  // namespace brenwick
