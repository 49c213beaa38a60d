#pragma once

#include <string>
#include <string_view>

// The forms a path takes at the wide API and back. Drive and share paths go
// to the system in their "\\?\" form, exactly as given, so that paths past
// 260 characters work and a listed name is never read as another.
namespace uninst::win32 {

inline constexpr std::wstring_view longPrefix = L"\\\\?\\";

// "C:", "C:\..." or "C:/...".
bool isDriveAbsolute(std::string_view path);
// "\\server\share...", not the device namespace ("\\?\", "\\.\").
bool isShareForm(std::string_view path);

// Appends the form of `path` that the wide API is given. Drive and share paths
// take the long-path form, which the system uses exactly as it stands: no
// separator is added or dropped, no "." or ".." step is read, no trailing dot
// or blank goes. Nothing is cleaned up here: the engine resolves the folders
// it did not list itself once (fullPath), and a listed name joined to one of
// them must name that item and no other ("data.mdb." is not "data.mdb"). A
// path that would need clean-up names nothing in this form and fails. "C:" on
// its own is the drive's root, as a folder path without its separator.
void appendApiPath(std::wstring& out, const std::string& path);
std::wstring apiPath(const std::string& path);

// For messages: the path as the user knows it.
std::string userPath(std::wstring_view apiForm);

// "\\?\C:\" and its like: nothing here ever deletes a whole drive.
bool isDriveRoot(std::wstring_view apiForm);

// "." or "..", as a listing shows them.
bool isDotEntry(const wchar_t* name);

// Wine shows a host name holding "\\" as it is ("..\\Other\\a.txt"); Windows
// has no such names, but a share served from another system may. Joined to
// its folder, such a name is a path to another item, outside the tree when
// it climbs with "..", so it is never acted on.
bool holdsSeparator(std::wstring_view name);

} // namespace uninst::win32
