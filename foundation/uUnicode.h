#pragma once

#include <string>

// Names are UTF-16 in the program (as NTFS stores them) and bytes on Linux:
// UTF-8 both ways, with whatever does not convert cleanly (an unpaired
// surrogate, a malformed byte sequence) becoming U+FFFD.
std::string ToNativePath(const std::u16string& APath);
std::u16string FromNativePath(const std::string& APath);

// Appends one code point as UTF-8; surrogates are the caller's business.
void AppendUtf8(std::string& AOut, char32_t ACode);
