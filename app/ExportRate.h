// The export of the rate file: stages the archive and engine payloads in the
// temporary folder, asks for a target folder and lets the window's zip component
// extract ROB216.dbf into it.
#pragma once
#include <stdexcept>
#include <string>

#include "UiOps.h"
#include "ZipMate191/ZipMate.h"

class TFormMainShort;

// An unexpected failure of the export (a missing payload, a staged file that cannot
// be written, an unusable temporary folder). It leaves the export at once; the front
// end shows its text.
class EExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace rob216 {

// Resource names of the payloads and the names they are staged under.
inline constexpr const char* kArchiveResource = "ROB_2KW2016";
inline constexpr const char* kEngineResource = "DzEngine190";
inline constexpr const char* kStagedArchive = "_xkgcsa9fjsk8_.tmp";
inline constexpr const char* kStagedEngine = "DzEngine190.dll";
inline constexpr const char* kRateFileName = "ROB216.dbf";
// The temporary folder's path must fit a buffer of this many characters, terminator
// included.
inline constexpr size_t kTempPathBuffer = 260;

inline constexpr const char* kChooseInstruction = "Wybierz folder do zapisu kopii";
inline constexpr const char* kBadFolderText = "Błędny katalog: ";
inline constexpr const char* kNotEmptyTitle = "Folder kopii istnieje";
inline constexpr const char* kNotEmptyText = "Wskazany Folder nie jest pusty.\r\nKontynuować?";

// The temporary folder with a trailing delimiter; EExportError when its path does not
// fit kTempPathBuffer characters (UTF-16 code units, terminator included).
std::string StagingFolder();

// A payload resource (found without regard to case) as a read-only stream over the
// program's own bytes; EExportError when the program has none of that name.
TReadOnlyMemoryStream OpenPayload(const std::string& name);

}  // namespace rob216

// Runs the export with the given user interface and component. True when the table
// was extracted; false when the user cancelled, the folder was unusable, the user
// declined to write into a non-empty folder or the extraction failed (the component
// has shown why).
bool ExportRateFile(UiOps& ui, TZipMate& zip);
// The same with the main window's interface and component.
bool ExportRateFile(TFormMainShort& form);

// True only when listing path + delimiter + "*.*" (every attribute) yields nothing but
// "." and "..": an existing folder, a drive's root included, that holds nothing.
bool IsFolderEmpty(const std::string& path);
