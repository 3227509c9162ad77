// UTF-8 and UTF-16 for the Windows front end.
#pragma once
#include <string>

std::wstring WideFromUtf8(const std::string& s);
std::string Utf8FromWide(const std::wstring& s);
