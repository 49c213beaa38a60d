#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

// The owners of the system's handles, each tied once to the call that
// releases it. Every layer that opens a handle of its own (the platform, the
// window, the benchmark's programs, the tests) takes its owner from here.
namespace uninst {

// Files, folders and devices: INVALID_HANDLE_VALUE when there is none.
using FileHandle = UniqueHandle<HANDLE, &CloseHandle, -1>;
using FindHandle = UniqueHandle<HANDLE, &FindClose, -1>;
// Processes, threads, mutexes and events, which are null when there is none.
using KernelHandle = UniqueHandle<HANDLE, &CloseHandle, 0>;
using KeyHandle = UniqueHandle<HKEY, &RegCloseKey, 0>;
// What the system allocated for the caller with LocalAlloc
// (FORMAT_MESSAGE_ALLOCATE_BUFFER, CommandLineToArgvW).
using LocalMemory = UniqueHandle<HLOCAL, &LocalFree, 0>;
using ModuleHandle = UniqueHandle<HMODULE, &FreeLibrary, 0>;
using FontHandle = UniqueHandle<HFONT, &DeleteObject, 0>;
using MemoryDc = UniqueHandle<HDC, &DeleteDC, 0>;

} // namespace uninst
