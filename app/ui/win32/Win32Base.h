// The system header for the Windows front end: wide (UNICODE) declarations, and no
// MessageBox macro, so that the user-interface hook's member keeps its name here.
#pragma once
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif
#include <windows.h>
#undef MessageBox
