#pragma once

#include <string>
#include <string_view>

// Names are UTF-16 in the program (as NTFS stores them) and bytes on Linux:
// UTF-8 both ways, with whatever does not convert cleanly (an unpaired
// surrogate, a malformed byte sequence) becoming U+FFFD.
std::string ToNativePath(const std::u16string& APath);
// The same, appended to AOut, for callers that reuse one buffer.
void AppendNativePath(std::string& AOut, std::u16string_view APath);
std::u16string FromNativePath(const std::string& APath);

// Appends one code point as UTF-8; surrogates are the caller's business.
void AppendUtf8(std::string& AOut, char32_t ACode);

// Text that came from a volume, made safe for a terminal or a log view: a
// crafted name must not move the cursor, clear the screen or start a line
// of its own. Control characters (C0, DEL and the C1 range) are written as
// "\t", "\n", "\r" or "\xHH" ("\u0080" to "\u009f" for C1), and a backslash
// as "\\", so the text stays readable and unambiguous.
std::string EscapeControls(std::string_view AText);
