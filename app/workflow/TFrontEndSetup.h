// What every front end (the window, the command line, the benchmarks) sets up the same way: the burner's
// design-time properties and the copy between a profile and the workflow's options.
#pragma once

#include "app/profile/TBackupProfile.h"
#include "app/workflow/TBackupWorkflow.h"
#include "engine/qrCDBC.h"

namespace brenwick {

// The software cache the main window configures (bytes).
inline constexpr int kMainWindowCacheSize = 19998720;

// Sets the burner's properties as the main window's designer does: log on, underrun protection on, the
// drive's own speeds, no test write, no power calibration, the disc left open, the main window's cache.
void ConfigureBurner(TQrvBurner& cd);

// Copies the Archives list, the four options and the volume label of a profile into the workflow's
// options (what Open does to the window's controls).
void ApplyProfile(const TBackupProfile& profile, TWorkflowOptions& options);

// The reverse, for Save: the profile's Archives, options and volume label from the workflow's options;
// the recorder index and the add-files folder are the caller's to set.
void StoreOptions(const TWorkflowOptions& options, TBackupProfile& profile);

}  // namespace brenwick
