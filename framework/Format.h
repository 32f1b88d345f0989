#pragma once
#include <string>

// printf-style formatting into a std::string of code page 932 bytes.
std::string StrFormat(const char* format, ...) __attribute__((format(gnu_printf, 1, 2)));
