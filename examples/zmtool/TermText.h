// Text from archives made safe for a terminal: names and comments are written by
// whoever made the archive, and control characters among them (a carriage return, an
// escape sequence) could forge a listing or retitle the terminal.
#pragma once
#include <string>

namespace zmtool {

// The text with every control character written out C-style: \t, \n, \r, \\ (not
// on Windows, where it separates folders) and \xHH
// for the other C0 controls, DEL, bytes that are not UTF-8 and the C1 controls;
// \u202e and the like for the bidirectional controls, which reorder what follows.
// With keepLines, line feeds and tabs stay as they are (a multi-line comment).
std::string TerminalSafe(const std::string& text, bool keepLines = false);
// True when the text holds only printable ASCII that a terminal shows as it is, which
// TerminalSafe gives back unchanged (a listing's common case, which then needs no copy).
bool IsPlainPrintable(const std::string& text);

}  // namespace zmtool
