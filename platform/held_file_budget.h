#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

// How many checked files the pre-flight may keep open for their deletion.
// Each held file saves its deletion a second open, a round trip to Wine's
// server, but under Wine each is also a descriptor of that one server, which
// every program on the machine shares.
namespace uninst::win32 {

// What is held when the server's limit cannot be read: on Windows, where a
// handle is no descriptor, and under a Wine that does not show its limits.
inline constexpr std::size_t fallbackHeldFiles = 2048;
// Past this the map of held files costs more memory than the opens it saves
// are worth.
inline constexpr std::size_t mostHeldFiles = 32768;

// The soft "Max open files" limit of a Linux /proc/<pid>/limits text.
std::optional<std::size_t> openFileLimit(std::string_view limitsText);

// The share of a descriptor limit the run may hold, `open` being in use
// already: a quarter of the limit (at least 1,024) is left to the other
// programs, and to the run's own later opens, for as long as the run holds.
std::size_t heldFilesWithin(std::size_t limit, std::size_t open);

// The budget on this machine. Under Wine the server opens every file, so
// the process files name as "self" there is the server: its limit and its
// open descriptors are read through the host's file system.
std::size_t heldFileBudget();

} // namespace uninst::win32
