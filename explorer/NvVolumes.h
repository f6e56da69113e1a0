// The computer's drives: the mounted volumes that hold a real file system, each with its root path (with a
// trailing "/"), its caption and its drive type.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

namespace brenwick {

struct TNvVolume {
    QString root;      // "/", "/media/usb/"
    QString caption;   // " (" + root + ")  " + label or device name
    QString typeText;  // "Fixed Disk", "Removable Disk", "CD-ROM Disk", "Network Disk", "RAM Disk"
    bool network = false;
    bool removable = false;     // removable or optical: not measured, a disc must be present to open it
    std::uint64_t totalKb = 0;  // size and free space in KB; 0 when not measured or below one KB
    std::uint64_t freeKb = 0;
};

QList<TNvVolume> MountedVolumes();
// The volume that holds `path` (the longest root that begins it); an empty root when none does.
TNvVolume VolumeOf(const QList<TNvVolume>& volumes, const QString& path);
// Whether a removable or optical volume can be read now.
bool DiskPresent(const TNvVolume& volume);
// The folder path with one trailing "/", as the roots and the list's folders are kept.
QString WithSlash(const QString& path);
// " (" + root + ")  " + name: the caption of a drive in the tree and in the drive view.
QString DriveCaption(const QString& root, const QString& name);

}  // namespace brenwick
