#include "explorer/NvVolumes.h"

#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

namespace brenwick {

namespace {

bool PseudoFileSystem(const QByteArray& type) {
    static const QList<QByteArray> kPseudo = {
        "proc",     "sysfs",      "cgroup",    "cgroup2",         "devpts",      "devtmpfs",
        "mqueue",   "debugfs",    "tracefs",   "securityfs",      "pstore",      "bpf",
        "configfs", "fusectl",    "hugetlbfs", "autofs",          "binfmt_misc", "nsfs",
        "efivarfs", "rpc_pipefs", "selinuxfs", "fuse.gvfsd-fuse", "fuse.portal"};
    return kPseudo.contains(type);
}

// System folders whose mounts are no drives of the user's.
bool SystemMount(const QString& root) {
    for (const char* top : {"/proc", "/sys", "/dev", "/run"})
        if (root == top || root.startsWith(QString(top) + '/')) return !root.startsWith("/run/media/");
    return false;
}

bool Removable(const QString& device) {
    const QString name = QFileInfo(device).fileName();
    for (const QString& file :
         {"/sys/class/block/" + name + "/removable", "/sys/class/block/" + name + "/../removable"}) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) return f.readAll().trimmed() == "1";
    }
    return false;
}

std::uint64_t Kb(qint64 bytes) {
    return bytes >= 1024 ? std::uint64_t(bytes) / 1024 : 0;
}

QString TypeText(const QStorageInfo& s, bool& network, bool& removable) {
    const QByteArray type = s.fileSystemType();
    const QString device = QString::fromUtf8(s.device());
    network = type == "nfs" || type == "nfs4" || type == "cifs" || type == "smb3" || type == "fuse.sshfs";
    removable = false;
    if (QFileInfo(device).fileName().startsWith("sr")) return removable = true, "CD-ROM Disk";
    if (network) return "Network Disk";
    if (type == "tmpfs" || type == "ramfs") return "RAM Disk";
    if (device.startsWith("/dev/") && Removable(device)) return removable = true, "Removable Disk";
    return "Fixed Disk";
}

}  // namespace

QString WithSlash(const QString& path) {
    return path.endsWith('/') ? path : path + '/';
}

QString DriveCaption(const QString& root, const QString& name) {
    return " (" + root + ")  " + name;
}

QList<TNvVolume> MountedVolumes() {
    QList<TNvVolume> volumes;
    for (const QStorageInfo& s : QStorageInfo::mountedVolumes()) {
        const QString root = WithSlash(s.rootPath());
        if (PseudoFileSystem(s.fileSystemType()) || SystemMount(root.chopped(root.size() > 1 ? 1 : 0)) ||
            !QFileInfo(root).isDir())
            continue;
        bool duplicate = false;
        for (const TNvVolume& v : volumes) duplicate = duplicate || v.root == root;
        if (duplicate) continue;  // a folder mounted over twice is one drive
        TNvVolume v;
        v.root = root;
        v.typeText = TypeText(s, v.network, v.removable);
        const QString name = s.name().isEmpty() ? QString::fromUtf8(s.device()) : s.name();
        v.caption = DriveCaption(root, name);
        // Removable and optical drives are not measured, so that no disc is needed to list them; the others
        // keep the figures read with the list of mounts.
        if (!v.removable && s.isValid() && s.isReady()) {
            v.totalKb = Kb(s.bytesTotal());
            v.freeKb = Kb(s.bytesFree());
        }
        volumes.push_back(v);
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const TNvVolume& a, const TNvVolume& b) { return a.root < b.root; });
    return volumes;
}

TNvVolume VolumeOf(const QList<TNvVolume>& volumes, const QString& path) {
    TNvVolume best;
    const QString p = WithSlash(path);
    for (const TNvVolume& v : volumes)
        if (p.startsWith(v.root) && v.root.size() > best.root.size()) best = v;
    return best;
}

bool DiskPresent(const TNvVolume& volume) {
    QStorageInfo s(volume.root);
    s.refresh();
    return s.isValid() && s.isReady() && s.bytesTotal() > 0;
}

}  // namespace brenwick
