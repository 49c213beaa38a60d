// What the Win32 shell layer reads from the system: its Programs folders,
// shortcut targets as the system's own shell link writes them, program
// information files, and environment strings.

#include "platform/text_encoding.h"
#include "platform/win32_shell.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <objidl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace uninst {
namespace {

class Win32ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ =
            std::wstring(temp) + L"uninst shell test " + std::to_wstring(GetCurrentProcessId());
        ASSERT_TRUE(CreateDirectoryW(folder_.c_str(), nullptr));
    }
    void TearDown() override {
        WIN32_FIND_DATAW data;
        const HANDLE find = FindFirstFileW((folder_ + L"\\*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do
                DeleteFileW((folder_ + L"\\" + data.cFileName).c_str());
            while (FindNextFileW(find, &data));
            FindClose(find);
        }
        RemoveDirectoryW(folder_.c_str());
    }

    std::wstring at(const std::wstring& name) const { return folder_ + L"\\" + name; }

    void writeFile(const std::wstring& path, const std::string& bytes) const {
        const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        DWORD written = 0;
        WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_EQ(written, bytes.size());
    }

    // Written by the system's own shell link object.
    void writeShortcut(const std::wstring& path, const std::wstring& target) const {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        IShellLinkW* link = nullptr;
        IPersistFile* file = nullptr;
        HRESULT result = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                          IID_IShellLinkW, reinterpret_cast<void**>(&link));
        if (SUCCEEDED(result))
            result = link->SetPath(target.c_str());
        if (SUCCEEDED(result))
            result = link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file));
        if (SUCCEEDED(result))
            result = file->Save(path.c_str(), TRUE);
        if (file != nullptr)
            file->Release();
        if (link != nullptr)
            link->Release();
        CoUninitialize();
        ASSERT_TRUE(SUCCEEDED(result)) << std::hex << result;
    }

    std::wstring folder_;
    Win32Shell shell_;
};

TEST_F(Win32ShellTest, ProgramsFoldersAreTheAllUsersAndThePerUserOne) {
    const auto folders = shell_.programsFolders();
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_NE(folders[0], folders[1]);
    for (const std::string& folder : folders) {
        const DWORD attributes = GetFileAttributesW(text::toWide(folder).c_str());
        EXPECT_NE(attributes, INVALID_FILE_ATTRIBUTES) << folder;
        EXPECT_NE(folder.back(), '\\') << folder;
    }
    EXPECT_FALSE(shell_.systemFolders().empty());
}

// The role of `path` among the shared folders, or nothing.
std::optional<std::string> roleOf(const std::vector<SharedFolder>& shared,
                                  const std::wstring& path) {
    for (const SharedFolder& folder : shared) {
        if (lstrcmpiW(text::toWide(folder.path).c_str(), path.c_str()) == 0)
            return folder.role;
    }
    return std::nullopt;
}

std::wstring variable(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size())));
    return value;
}

// Every profile of the system's list counts, not only the current user's:
// one added to the list for the test, with its path to be expanded, is named.
TEST_F(Win32ShellTest, SharedFoldersNameTheSystemsFoldersAndEveryProfile) {
    const std::wstring list = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";
    const std::wstring entry = list + L"\\S-1-5-21-0-0-0-4242";
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, entry.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    const std::wstring stored = L"%SystemDrive%\\users\\shell test \u00e9l\u00e8ve";
    RegSetValueExW(key, L"ProfileImagePath", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(stored.c_str()),
                   static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);

    const std::vector<SharedFolder> shared = Win32Shell().sharedFolders();
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, entry.c_str());

    wchar_t windows[MAX_PATH];
    ASSERT_NE(GetWindowsDirectoryW(windows, MAX_PATH), 0u);
    EXPECT_EQ(roleOf(shared, windows), "the Windows folder");
    EXPECT_EQ(roleOf(shared, variable(L"ProgramFiles")), "the system's Program Files folder");
    EXPECT_TRUE(roleOf(shared, variable(L"CommonProgramFiles")));
    EXPECT_TRUE(roleOf(shared, variable(L"ProgramData")));
    EXPECT_TRUE(roleOf(shared, variable(L"USERPROFILE")));
    EXPECT_EQ(roleOf(shared, variable(L"SystemDrive") + L"\\users\\shell test \u00e9l\u00e8ve"),
              "a user's profile folder");
    wchar_t desktop[MAX_PATH];
    ASSERT_EQ(
        SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, desktop),
        S_OK);
    EXPECT_EQ(roleOf(shared, desktop), "the shell's Desktop folder");
    PWSTR downloads = nullptr;
    ASSERT_EQ(SHGetKnownFolderPath(FOLDERID_Downloads, KF_FLAG_DONT_VERIFY, nullptr, &downloads),
              S_OK);
    EXPECT_EQ(roleOf(shared, downloads), "the shell's Downloads folder");
    CoTaskMemFree(downloads);
    for (const SharedFolder& folder : shared) {
        EXPECT_FALSE(folder.path.empty());
        EXPECT_FALSE(folder.role.empty()) << folder.path;
    }
}

TEST_F(Win32ShellTest, FinalFolderSpellsShortStepsInFull) {
    wchar_t programFiles[MAX_PATH];
    ASSERT_EQ(
        SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, programFiles),
        S_OK);
    wchar_t shortName[MAX_PATH];
    ASSERT_NE(GetShortPathNameW(programFiles, shortName, MAX_PATH), 0u);
    Win32Shell shell;
    EXPECT_EQ(shell.finalFolder(text::fromWide(shortName)), text::fromWide(programFiles));
    EXPECT_EQ(shell.finalFolder(text::fromWide(folder_)), text::fromWide(folder_));
    EXPECT_EQ(shell.finalFolder(text::fromWide(folder_ + L"\\missing")), std::nullopt);
    EXPECT_EQ(shell.finalFolder(text::fromWide(folder_ + L"\\missing\\deeper")), std::nullopt);
    EXPECT_EQ(shell.finalFolder(text::fromWide(shortName) + "\\missing"), std::nullopt)
        << "a short step before the missing one";
}

TEST_F(Win32ShellTest, ShellLinkLeadsToItsStoredTargetWhetherOrNotItExists) {
    const std::wstring target = L"C:\\Program Files\\B\u00fccher \u0416\\app.exe";
    writeShortcut(at(L"app.lnk"), target);
    EXPECT_EQ(shell_.shortcutTarget(text::fromWide(at(L"app.lnk"))), text::fromWide(target));
    // The file can be deleted at once: reading the link kept nothing open.
    EXPECT_TRUE(DeleteFileW(at(L"app.lnk").c_str()));
}

TEST_F(Win32ShellTest, WhatIsNoShortcutHasNoTarget) {
    writeFile(at(L"damaged.lnk"), "not a shell link");
    EXPECT_EQ(shell_.shortcutTarget(text::fromWide(at(L"damaged.lnk"))), std::nullopt);
    EXPECT_EQ(shell_.shortcutTarget(text::fromWide(at(L"missing.lnk"))), std::nullopt);
    writeFile(at(L"short.pif"), std::string(0x30, ' '));
    EXPECT_EQ(shell_.shortcutTarget(text::fromWide(at(L"short.pif"))), std::nullopt);
}

TEST_F(Win32ShellTest, ProgramInformationFileNamesItsProgram) {
    std::string pif(0x171, '\0');
    pif.replace(0x02, 30, std::string("Application                   "));
    const std::string program = "C:\\APPS\\TOOL\\TOOL.EXE";
    pif.replace(0x24, program.size(), program);
    writeFile(at(L"tool.pif"), pif);
    EXPECT_EQ(shell_.shortcutTarget(text::fromWide(at(L"tool.pif"))), program);
}

TEST_F(Win32ShellTest, EnvironmentStringsExpandAsTheSystemExpandsThem) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"UNINST_TEST_FOLDER", L"C:\\B\u00fccher"));
    EXPECT_EQ(shell_.expandEnvironment("%uninst_test_folder%\\a.exe"),
              text::fromWide(L"C:\\B\u00fccher\\a.exe"));
    EXPECT_EQ(shell_.expandEnvironment("%UNINST_NOT_SET%\\a.exe"), "%UNINST_NOT_SET%\\a.exe");
    EXPECT_EQ(shell_.expandEnvironment("no variables"), "no variables");
    SetEnvironmentVariableW(L"UNINST_TEST_FOLDER", nullptr);
}

} // namespace
} // namespace uninst
