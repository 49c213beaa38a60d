#pragma once

#include "platform/unique_handle.h"

#include <windows.h>

// The owners of the handles that Windows-side tests and the end-to-end
// fixture open for themselves, beside the program under test.
namespace uninst::test {

using KeyHandle = UniqueHandle<HKEY, &RegCloseKey, 0>;
using FileHandle = UniqueHandle<HANDLE, &CloseHandle, -1>;
using FindHandle = UniqueHandle<HANDLE, &FindClose, -1>;
// Process and thread handles, which are null when there is none.
using KernelHandle = UniqueHandle<HANDLE, &CloseHandle, 0>;

} // namespace uninst::test
