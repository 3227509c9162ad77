// The program's standard streams and its terminal: which of them is a terminal and how
// wide it is, reading a line from it (also without echo), writing text so that it shows
// right (UTF-16 to a Windows console, the bytes everywhere else), the command line as
// UTF-8, standard input as a file, and the interrupt keys. Texts here are UTF-8.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "PlatFile.h"

namespace plat {

enum TStdStream : int { ssInput = 0, ssOutput = 1, ssError = 2 };

THandle StdHandle(TStdStream s);
bool IsTerminal(TStdStream s);
// Columns of the terminal behind s (asked each time, so that a resized window counts);
// 0 when s is no terminal.
int TerminalColumns(TStdStream s);

// Writes prompt (UTF-8) to standard error and reads one line from standard input,
// without its line end. With echo off, what is typed is not shown (only the line end
// is): the echo goes off before the prompt shows, so that nothing typed after it is
// seen, and comes back afterwards. False at the end of the input or on failure.
bool ReadInputLine(const std::string& prompt, std::string& line, bool echo);

// Writes text to s: to a Windows console as UTF-16, so that every character shows
// whatever the console's code page; everywhere else the bytes as they are.
bool WriteStdText(TStdStream s, const std::string& utf8);
// Writes bytes unchanged (standard output is in binary mode on Windows).
bool WriteStdBytes(TStdStream s, const void* data, size_t n);

// The program's arguments (without the program's name) as UTF-8; on Windows from its
// UTF-16 command line, so that names outside the ANSI code page come through.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Whether h is a file that can seek (a regular file, not a pipe or a terminal).
bool IsSeekableFile(THandle h);
// A name under which this process can open the file h again (on POSIX through the
// handle's entry in /proc or /dev/fd, so also a file without a name); empty where there
// is none.
std::string ReopenName(THandle h);
// Whether that name still opens the file once the file's own name is removed.
bool ReopenSurvivesRemoval();

// Interrupts: Ctrl+C (SIGINT; on Windows also Ctrl+Break and closing the console).
// While the exit mode is on (the default) an interrupt ends the process at once with
// status 130, after the files registered for removal (PlatCleanup.h) are gone. While it
// is off, the first interrupt only sets Interrupted(), so that the program can stop its
// work and clean up; a second one, or a few seconds without the program ending (it may
// be blocked on a pipe), ends the process. SIGTERM and SIGHUP always end it at once, by
// the signal, once the registered files are gone.
void CatchInterrupts();
bool Interrupted();
void SetExitOnInterrupt(bool on);

}  // namespace plat
