#include "platform/system_library.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace uninst {
namespace {

// The DLL the build puts beside this test program, and nowhere else.
const wchar_t* const planted = L"planted_probe.dll";

std::wstring systemFolder() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length);
}

std::wstring folderOf(HMODULE module) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    std::wstring text(path, length);
    return text.substr(0, text.rfind(L'\\'));
}

TEST(SystemLibrary, LoadsFromTheSystemFolderOnly) {
    const SystemLibrary version(L"version.dll");
    ASSERT_TRUE(version);
    EXPECT_NE(nullptr, version.procedure("GetFileVersionInfoSizeW"));
    EXPECT_EQ(nullptr, version.procedure("NoSuchFunction"));
    HMODULE module = nullptr;
    ASSERT_TRUE(
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, L"version.dll", &module));
    EXPECT_EQ(0, lstrcmpiW(systemFolder().c_str(), folderOf(module).c_str()));

    // The ordinary search finds the planted DLL beside the program; the
    // system-folder load does not.
    HMODULE ordinary = LoadLibraryW(planted);
    ASSERT_NE(nullptr, ordinary) << "the planted DLL is missing beside the test";
    FreeLibrary(ordinary);
    EXPECT_FALSE(SystemLibrary(planted));
}

// Last in this program: it changes the search of the whole process.
TEST(SystemLibrary, RestrictedSearchNoLongerFindsADllBesideTheProgram) {
    EXPECT_TRUE(restrictDllSearchToSystemFolder());
    HMODULE module = LoadLibraryW(planted);
    EXPECT_EQ(nullptr, module) << "loaded from the program's folder after the restriction";
    if (module != nullptr)
        FreeLibrary(module);
    EXPECT_TRUE(SystemLibrary(L"version.dll"));
}

} // namespace
} // namespace uninst
