// The listing of a session (see qrSessionListing.h): the tree is imported into a compilation of its own,
// which holds each imported file's sector, size and date.
#include "isofs/qrSessionListing.h"

namespace brenwick {

namespace {

void Flatten(const TDEntry& directory, const std::string& prefix, std::vector<TListedEntry>& out) {
    for (const TFEntry* f = directory.Entries; f != nullptr; f = f->Next) {
        TListedEntry e;
        e.Path = prefix + "/" + f->LongName;
        e.Directory = f->isDirectory();
        e.DateTime = f->DateTime;
        if (!e.Directory) {
            e.Lba = f->IsoExtent;
            e.Size = f->Size;
        }
        out.push_back(e);
        if (e.Directory && f->DirLink != nullptr) Flatten(*f->DirLink, e.Path, out);
    }
}

}  // namespace

bool ReadSessionListing(TSessionDisc& disc, std::uint8_t session, TSessionListing& listing) {
    listing = {};
    listing.Session = session == 0xFF ? disc.sessionCount() : session;
    if (listing.Session == 0 || !disc.sessionStart(listing.Session, listing.Start)) {
        listing.Fault = TImportFault::TocUnreadable;
        return false;
    }
    TCompilation tree;
    TSessionImport import(tree, disc);
    (void)import.ImportSession(listing.Session, nullptr);
    listing.Fault = import.Fault();
    if (listing.Fault == TImportFault::NoJoliet) {  // another program's session: its ISO 9660 names
        TCompilation isoTree;
        TSessionImport isoImport(isoTree, disc);
        (void)isoImport.ImportIsoSession(listing.Session, nullptr);
        listing.Fault = isoImport.Fault();
        listing.IsoNames = true;
        Flatten(*isoTree.Root(), "", listing.Entries);
        return listing.Fault == TImportFault::None;
    }
    Flatten(*tree.Root(), "", listing.Entries);
    return listing.Fault == TImportFault::None;
}

std::vector<const TListedEntry*> EntriesBelow(const TSessionListing& listing, const std::string& path) {
    std::string base = path;
    while (!base.empty() && base.back() == '/') base.pop_back();
    if (!base.empty() && base.front() != '/') base = std::string("/").append(base);
    std::vector<const TListedEntry*> found;
    for (const TListedEntry& e : listing.Entries) {
        if (base.empty() || e.Path == base || e.Path.starts_with(base + "/")) found.push_back(&e);
    }
    return found;
}

}  // namespace brenwick
