// The recorder set holds copies of every backed-up file, so nobody but its owner may read it: folders are
// made 0700 and files 0600 whatever the umask, and a set made before (under the usual umask 022, 0755 and
// 0644) loses its group and other permissions when the transport loads it. Nothing is ever loosened.
#pragma once

#include <string>

namespace brenwick {

inline constexpr const char* kMsgRecordersMadePrivate =
    ">>> OTHER USERS COULD READ THE IMAGE RECORDERS IN %s: NOW ONLY THEIR OWNER CAN";

// Makes `path` and its missing parents; each folder it makes is 0700. Existing folders are left as they are.
[[nodiscard]] bool MakePrivateFolders(const std::string& path, std::string& error);

// Opens `path` with `flags` (O_RDWR, O_WRONLY | O_APPEND ..., without O_CREAT), creating it 0600 when it does
// not exist. Returns the descriptor, or -1 with errno set.
int OpenPrivateFile(const std::string& path, int flags);

// Takes group and other permissions from the recorder folder `root`, from each recorder folder in it and
// from the files directly in those (state, images, fault file). True when anything had to change.
bool TightenRecorderSet(const std::string& root);

}  // namespace brenwick
