// Message texts and languages: the process-wide message table, the selection of a
// language from the "DZResStr191" resource, and the application's text hook.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ZMBase.h"
#include "ZMClasses.h"
#include "ZMMsg.h"

// Name and raw-data type of the resource that holds the translated tables.
inline constexpr const char* ZMLanguageResourceName = "DZResStr191";
inline constexpr int ZMLanguageResourceType = 10;

// The text of a message number (or full error code: its low nine bits are used):
// the current language, then English, then the hook, then "Resource missing for "
// and the number as passed. Never empty. Texts are in the ANSI code page.
std::string LoadMessage(int number);

// Selects a language table by its code ("DE", "esp" …) or, for "*", by the user's
// locale. Returns the code actually selected; empty when none was (English is then in
// effect). "US" and names without a usable leading word change nothing.
std::string SelectLanguageByName(const std::string& name);

// Selects a language table by Windows language identifier; 1033 returns to English.
// Returns the identifier in effect (1033 when no table was selected).
int SelectLanguageById(int id);

// The identifier of the selected table, or 1033 when none is selected.
int CurrentLanguageId();
// The code of the selected table, or empty when none is selected.
std::string CurrentLanguageCode();

// Information about the selected table (index 0) or the index-th block of the
// resource (from 1). kind -1: the code ("US: default" for English, "><" for a block
// that does not exist); kind 0: "$" and the identifier in hex; any other kind: that
// locale information of the identifier.
std::string LanguageInfo(int index, int kind);

// The process-wide text hook.
void SetTextHook(TZMLoadStrEvent hook);
const TZMLoadStrEvent& GetTextHook();

// True while a language is being loaded.
bool LanguageLoading();

// Decompresses the language block at the stream's position into table. Returns the
// block's language identifier, or 0 when the block is short, damaged or too large.
int DecompressLanguageBlock(TStream& src, TZMLangBlok& table);

// Where the translated tables come from: by default the "DZResStr191" resource of
// the program. Another source (a test, a program with its tables in a file) may be
// set; an empty function restores the default. Returns the previous source.
using TZMLangSource = std::function<std::unique_ptr<TStream>()>;
TZMLangSource SetLanguageSource(TZMLangSource source);

// Releases the selected table and the decompressed English table (English is
// decompressed again at the next lookup that needs it).
void ReleaseMessageTables();
