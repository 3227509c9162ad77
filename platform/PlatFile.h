// Files through the operating system's handles. Narrow names are the platform's
// 8-bit names (UTF-8 bytes on POSIX).
#pragma once
#include <cstdint>
#include <string>

namespace plat {

using THandle = intptr_t;
inline constexpr THandle kInvalidHandle = -1;

// Open modes as the runtime spells them: access in bits 0-1, sharing in bits 4-7.
inline constexpr uint32_t fmOpenRead = 0x0000;
inline constexpr uint32_t fmOpenWrite = 0x0001;
inline constexpr uint32_t fmOpenReadWrite = 0x0002;
inline constexpr uint32_t fmShareCompat = 0x0000;
inline constexpr uint32_t fmShareExclusive = 0x0010;
inline constexpr uint32_t fmShareDenyWrite = 0x0020;
inline constexpr uint32_t fmShareDenyRead = 0x0030;
inline constexpr uint32_t fmShareDenyNone = 0x0040;
// Opens only a regular file, and never waits for a writer or a device to answer: a
// FIFO, socket or device (also behind a link) is refused with kErrAccessDenied.
inline constexpr uint32_t fmRegularOnly = 0x0100;

// Seek origins.
inline constexpr int soBeginning = 0;
inline constexpr int soCurrent = 1;
inline constexpr int soEnd = 2;

// Opens an existing file; kInvalidHandle on failure.
THandle FileOpen(const std::string& name, uint32_t mode);
// Creates (or truncates) a file for reading and writing; kInvalidHandle on failure.
THandle FileCreate(const std::string& name);
// Creates a file that does not exist yet, for reading and writing. Fails with
// kErrFileExists when the name is taken in any form (a file, a folder, a link, dangling
// or not), so that nothing already there is followed or truncated.
THandle FileCreateNew(const std::string& name);
// Creates a file without a name on the file system of folder, for reading and writing.
// It disappears when closed unless FileLinkUnnamed names it first, so that a failure or
// a crash leaves nothing behind. Fails with kErrNotSupported where the system or the
// file system has no such files, and everywhere while the environment variable
// ZM_NO_UNNAMED_FILES is set (other than to 0), so that tests can take that road.
THandle FileCreateUnnamed(const std::string& folder);
// Gives a file made by FileCreateUnnamed its name. Fails with kErrFileExists when the
// name is taken in any form (nothing there is followed or replaced), and with the
// system's code otherwise (such as a name on another file system).
bool FileLinkUnnamed(THandle h, const std::string& name);
// A name through which this process can open the file of h once more, also a file
// without a name ("/proc/self/fd/N" on Linux); empty where the system has none.
std::string FileHandleName(THandle h);
// Bytes read, 0 at the end, -1 on failure.
int FileRead(THandle h, void* buffer, int count);
// Reads at an offset: several threads may read one handle at the same time. Where the
// file position is afterwards differs by system (Windows moves it, POSIX does not): seek
// before the next plain FileRead. Bytes read (fewer only at the end), -1 on failure.
int FileReadAt(THandle h, void* buffer, int count, uint64_t offset);
// Bytes written, -1 on failure.
int FileWrite(THandle h, const void* buffer, int count);
// Writes at an offset: several threads may write one handle at the same time (at
// different places). Moves the file position on Windows only, as FileReadAt. Bytes
// written, -1 on failure.
int FileWriteAt(THandle h, const void* buffer, int count, uint64_t offset);
// New position, or -1 on failure.
int64_t FileSeek(THandle h, int64_t offset, int origin);
// Truncates or extends the file at the current position.
bool FileSetEnd(THandle h);
// Writes what the system still holds of the file to its disk (data and what is needed
// to read it back), so that a crash or power loss cannot lose it.
bool FileFlush(THandle h);
bool FileClose(THandle h);

}  // namespace plat
