// Engine error numbers (the receiver shows error n as its message 231 + n) and the
// skip types reported with skipped entries.
#pragma once
#include <cstdint>

namespace dz {

enum TDZError : int {
  deNone = 0,
  deCancelled = 1,
  deAborted = 2,
  deCallback = 3,
  deNoMemory = 4,
  deInvalidStruct = 5,
  deFatal = 6,
  dePasswordFailed = 7,
  dePasswordCancelled = 8,
  deBadZip = 9,
  deNoCentral = 10,
  deUnexpectedEnd = 11,
  dePrematureEnd = 12,
  deOpenZip = 13,
  deMultiPart = 14,
  deFileNotFound = 15,
  deLogic = 16,
  deNothingToDo = 17,
  deBadOptions = 18,
  deTempFile = 19,
  deNoFileOrPermission = 20,
  deReadFile = 21,
  deCreateFile = 22,
  deWriteFile = 23,
  deSeekFile = 24,
  deEmptyZip = 25,
  deBadName = 26,
  deError = 27,
  deNothingFound = 28,
  deWarning = 29,
  deDeleteFailed = 30,
  deImport = 31,
  deSkipping = 32,
  deLocked = 33,
  deAccessDenied = 34,
  deDuplicateName = 35
};

// Ordinals of the component's skip types; the skip callback carries ordinal + 1.
enum TDZSkip : int {
  skOnFreshen = 0,
  skNoOverwrite = 1,
  skFileExists = 2,
  skBadPassword = 3,
  skBadName = 4,
  skCompressionUnknown = 5,
  skUnknownZipHost = 6,
  skZipFileFormatWrong = 7,
  skGeneralExtractError = 8,
  skUser = 9,
  skCannotDo = 10,
  skNotFound = 11,
  skNoShare = 12,
  skNoAccess = 13,
  skNoOpen = 14,
  skDupName = 15,
  skReadError = 16,
  skSizeChange = 17,
  skNothingToDo = 18
};

// Thrown inside the engine to end the operation; DZ_Exec returns -Error.
struct EDZStop {
  int Error;
};

}  // namespace dz
