// Unix permission bits and symbolic links, for files taken out of archives made on
// Unix. Names are UTF-8 (the system's bytes on POSIX).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// The process's file-creation mask (umask); 0 where the system has none.
uint32_t FileCreationMask();
// Sets the permission bits (mode & 07777, as given) of the file or folder name. A link
// at name is not followed: it is left alone and the call fails. On Windows only the
// owner's write bit counts: a file without it becomes read-only.
bool SetModeNoFollow(const std::string& name, uint32_t mode);
// Reads the regular file name, at most maxBytes bytes of it, without following a link
// at name; false for anything else (a link, a folder, a larger file).
bool ReadSmallFileNoFollow(const std::string& name, size_t maxBytes, std::string& data);
// Makes a symbolic link name whose target is the text target, taken as it is (a
// relative target is resolved from the link's folder). Fails when name exists. On
// Windows this needs the right to make links (developer mode or the privilege).
bool CreateSymLink(const std::string& target, const std::string& name);

}  // namespace plat
