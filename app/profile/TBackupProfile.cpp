// Load and save of the backup profile in the sections Archives and Options.
#include "app/profile/TBackupProfile.h"

#include <algorithm>
#include <string>

namespace brenwick {

namespace {

constexpr const char* kArchives = "Archives";
constexpr const char* kOptions = "Options";

std::string entryKey(std::size_t index) {
    return std::string("n").append(std::to_string(index));
}

}  // namespace

TProfileLoad LoadProfile(const std::string& fileName) {
    const TIniFile ini(fileName);
    TProfileLoad load;
    load.fileStatus = ini.loadStatus();
    TBackupProfile& p = load.profile;

    const int count = ini.readInteger(kArchives, "Count", 0);
    const int read = std::min(count, kMaxProfileEntries);
    if (count > read) load.entriesNotLoaded = std::int64_t(count) - read;
    if (read > 0) {
        p.Archives.reserve(std::size_t(read));
        for (int i = 0; i < read; ++i)
            p.Archives.push_back(ini.readString(kArchives, entryKey(std::size_t(i)), ""));
    }
    p.EraseBefore = ini.readBool(kOptions, "EraseBefore", false);
    p.Import = ini.readBool(kOptions, "Import", false);
    p.CloseDisc = ini.readBool(kOptions, "CloseDisc", false);
    p.EjectDisc = ini.readBool(kOptions, "EjectDisc", false);
    // Unlike the other options, a missing key reads as on: profiles written before it gain it.
    p.Verify = ini.readBool(kOptions, "Verify", true);
    p.Device = ini.readInteger(kOptions, "Device", 0);
    p.DeviceName = ini.readString(kOptions, "DeviceName", "");
    p.Volume = ini.readString(kOptions, "Volume", "");
    p.OpenPath = ini.readString(kOptions, "OpenPath", "");
    return load;
}

namespace {

bool writeArchives(TIniFile& ini, const std::vector<std::string>& archives) {
    ini.eraseSection(kArchives);
    bool ok = true;
    for (std::size_t i = 0; ok && i < archives.size(); ++i)
        ok = ini.writeString(kArchives, entryKey(i), archives[i]);
    return ok && ini.writeInteger(kArchives, "Count", int(archives.size()));
}

std::string unableToWrite(const std::string& fileName) {
    std::string error = kMsgUnableToWrite;
    return error.replace(error.find("%s"), 2, fileName);
}

}  // namespace

bool SaveArchives(const std::vector<std::string>& archives, const std::string& fileName, std::string& error) {
    TIniFile ini(fileName);
    const bool ok = writeArchives(ini, archives) && ini.updateFile();
    if (!ok) error = unableToWrite(fileName);
    return ok;
}

bool SaveProfile(const TBackupProfile& profile, const std::string& fileName, std::string& error) {
    TIniFile ini(fileName);
    bool ok = writeArchives(ini, profile.Archives);
    ok = ok && ini.writeBool(kOptions, "EraseBefore", profile.EraseBefore);
    ok = ok && ini.writeBool(kOptions, "Import", profile.Import);
    ok = ok && ini.writeBool(kOptions, "CloseDisc", profile.CloseDisc);
    ok = ok && ini.writeBool(kOptions, "EjectDisc", profile.EjectDisc);
    ok = ok && ini.writeBool(kOptions, "Verify", profile.Verify);
    ok = ok && ini.writeInteger(kOptions, "Device", profile.Device);
    // The name is written when there is one, and emptied when the file held one, so that a name chosen
    // earlier never outlives a new choice by index.
    if (!profile.DeviceName.empty() || !ini.readString(kOptions, "DeviceName", "").empty())
        ok = ok && ini.writeString(kOptions, "DeviceName", profile.DeviceName);
    ok = ok && ini.writeString(kOptions, "Volume", profile.Volume);
    ok = ok && ini.writeString(kOptions, "OpenPath", profile.OpenPath);
    // Nothing reaches the disc unless every value could be stored, so a refused entry never leaves a
    // profile whose Archives list was cut short.
    ok = ok && ini.updateFile();
    if (!ok) error = unableToWrite(fileName);
    return ok;
}

}  // namespace brenwick
