#pragma once

// The registry keys and the folder the program works on. Fixed: nothing in
// the program reads them from anywhere else.

namespace uninst {

// Each registered executable's full path, as its sub-key's default value.
inline constexpr const char* appPathsKeyPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
// The list of installed programs.
inline constexpr const char* uninstallKeyPath =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
// Reference counts of shared system files, one DWORD value per full path.
inline constexpr const char* sharedDllsKeyPath =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
// Where start-menu groups are removed from, with its trailing separator.
inline constexpr const char* startMenuRoot = "C:\\WINDOWS\\Start Menu\\Programs\\";

} // namespace uninst
