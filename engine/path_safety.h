#pragma once

#include <string>
#include <string_view>
#include <vector>

// The rules that keep every path the run lists or removes inside the
// application's own folder or its start-menu group. The install folder comes
// from the registry and the group from the install log; either may have been
// written by someone other than the application's setup.

namespace uninst {

// The steps of a path in order, each of `separators` ending one: by default
// "\" and "/" alike, as the system reads them. Empty steps stay: "" has one,
// and "A\\B\" has "A", "", "B" and "".
std::vector<std::string_view> pathSteps(std::string_view path, std::string_view separators = "\\/");

// "C:" at the start: a drive letter, either case, and a colon.
bool startsWithDrive(std::string_view path);

// The path with its last "\" step dropped ("C:\App\a.dll" gives "C:\App",
// "C:\a.dll" gives "C:"), or empty when it holds no "\".
std::string withoutLastStep(const std::string& path);

// The folder holding `path`, as withoutLastStep finds it, but empty when that
// is a drive ("C:") or nothing: a caller that lists the parent to learn what
// `path` is does not list a drive's root.
std::string parentBelowDrive(const std::string& path);

// "C:" or "C:\": the install folder of an executable registered in a drive's
// root. Listing it would offer the whole drive for deletion.
bool isDriveRoot(std::string_view folder);

// A path in the device namespace ("\\?\C:\App", "\\.\C:"), or the root of a
// network share ("\\server\share").
bool isDevicePathOrShareRoot(std::string_view folder);

// A step of only dots and blanks: "." or "..", or one Windows reads as such
// after dropping trailing dots and blanks.
bool hasDotStep(std::string_view path);

// "C:\App" or "\\server\share\App": a path that names its drive or share
// and its folder from the root, so that no current folder takes part in
// reading it. "C:App", "C:.", "\App" and "App" are read against one.
bool isFullyQualified(std::string_view path);

// Whether a full path, as the system resolved it, names a folder strictly
// below a drive's root ("C:\App") or a share's root ("\\server\share\App"):
// the only kind of install folder the run lists.
bool isFolderBelowARoot(std::string_view full);

// Whether a resolved path lies strictly inside `root` (which ends with its
// separator), letters compared without regard to ASCII case.
bool isStrictlyInside(std::string_view full, std::string_view root);

// Whether the start-menu group named by the install log is a folder strictly
// inside the start-menu root that a folder could be named.
bool isGroupInsideStartMenu(std::string_view group);

} // namespace uninst
