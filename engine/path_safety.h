#pragma once

#include <string_view>

// The rules that keep every path the run lists or removes inside the
// application's own folder or its start-menu group. The install folder comes
// from the registry and the group from the install log; either may have been
// written by someone other than the application's setup.

namespace uninst {

// "C:" or "C:\": the install folder of an executable registered in a drive's
// root. Listing it would offer the whole drive for deletion.
bool isDriveRoot(std::string_view folder);

// A path in the device namespace ("\\?\C:\App", "\\.\C:"), or the root of a
// network share ("\\server\share").
bool isDevicePathOrShareRoot(std::string_view folder);

// A step of only dots and blanks: "." or "..", or one Windows reads as such
// after dropping trailing dots and blanks.
bool hasDotStep(std::string_view path);

// Whether the start-menu group named by the install log is a folder strictly
// inside the start-menu root that a folder could be named.
bool isGroupInsideStartMenu(std::string_view group);

} // namespace uninst
