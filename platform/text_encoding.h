#pragma once

#include <optional>
#include <string>
#include <string_view>

// Conversions at the Win32 boundary. Text inside the program is UTF-8; the
// wide APIs want UTF-16 and the registry's 8-bit entry points want the
// system's ANSI code page. Every conversion passes explicit lengths, so
// embedded NULs, CRs and LFs come through unchanged.
//
// The wide conversions are exact both ways for any 16-bit text, unpaired
// surrogates included (which file names may hold): the UTF-8 side is then
// WTF-8. Bytes that are not UTF-8 become U+FFFD.
namespace uninst::text {

std::wstring toWide(std::string_view utf8);
std::string fromWide(std::wstring_view wide);

// Characters the ANSI code page cannot represent become its default
// character ("?"), as the 8-bit registry functions would see them anyway.
std::string toAnsi(std::string_view utf8);
std::string fromAnsi(std::string_view ansi);

// A text file's bytes as UTF-8, read in the encoding engine/text_file.h
// recognises: a mark is dropped, a damaged sequence after a UTF-8 mark becomes
// U+FFFD, and text in the code page is converted from the ANSI code page.
// Nothing when the encoding cannot be told.
std::optional<std::string> fromTextFile(std::string_view bytes);

// Appends to `out` instead of returning, so that hot loops can reuse one
// buffer.
void appendFromWide(std::string& out, std::wstring_view wide);
void appendWide(std::wstring& out, std::string_view utf8);

// Names compared as the file system and the registry compare them: unit by
// unit, each folded by the system's one upper-case table, the same in every
// locale (CompareStringOrdinal without case).
bool sameFolded(std::wstring_view a, std::wstring_view b);
// The same comparison as an order: CSTR_LESS_THAN, CSTR_EQUAL or
// CSTR_GREATER_THAN, or 0 when the system cannot compare.
int compareFolded(std::wstring_view a, std::wstring_view b);

} // namespace uninst::text
