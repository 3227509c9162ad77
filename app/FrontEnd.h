// The utility's front ends. Each builds the main window, runs until the user has
// finished and returns the process exit code.
#pragma once

// Terminal front end: texts on standard output, answers from standard input. Exit
// code 0 after the result box (or when input ends before the button is pressed), 1
// when an unexpected error left the export (its text goes to standard error).
int RunConsoleFrontEnd();

#ifdef ZM_HAVE_GTK
// GTK 3 window; -1 when no display can be opened (nothing has been shown then).
int RunGtkFrontEnd(int argc, char** argv);
#endif

#ifdef _WIN32
// Native Windows window.
int RunWin32FrontEnd();
#endif
