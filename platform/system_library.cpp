#include "platform/system_library.h"

#include <windows.h>

namespace uninst {

namespace {

HMODULE handle(void* module) {
    return static_cast<HMODULE>(module);
}

template <typename Function> Function kernelFunction(const char* name) {
    // kernel32 is loaded in every process before any code of the program
    // runs; asking for it by name loads nothing.
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel == nullptr
               ? nullptr
               : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(kernel, name)));
}

} // namespace

bool restrictDllSearchToSystemFolder() {
    // Looked up rather than imported: Windows 7 has it only with an update,
    // and an import it lacks would keep the program from starting at all.
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = kernelFunction<SetDefaultDllDirectoriesFn>("SetDefaultDllDirectories");
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE)
        return true;
    // Without it, at least the current folder leaves the search.
    SetDllDirectoryW(L"");
    return false;
}

SystemLibrary::SystemLibrary(const std::wstring& name) {
    HMODULE module = LoadLibraryExW(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
        // A system that does not know the flag: name the file in the system
        // folder in full, so that no search takes place.
        wchar_t folder[MAX_PATH];
        const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            std::wstring path(folder, length);
            path.append(L"\\").append(name);
            module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
        }
    }
    module_ = module;
}

SystemLibrary::~SystemLibrary() {
    if (module_ != nullptr)
        FreeLibrary(handle(module_));
}

void* SystemLibrary::procedure(const char* name) const {
    if (module_ == nullptr)
        return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(handle(module_), name));
}

} // namespace uninst
