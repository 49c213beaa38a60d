// Start-menu groups in the system's Programs folders: what a run removes
// from folders it shares with other applications and with the system.
#include "tests/e2e/scenarios.h"

#include <shlobj.h>

#include <stdexcept>

namespace e2e {
namespace {

const std::wstring sharedGroup = L"E2E Shared Group";
const std::wstring ourShortcut = L"E2E App.lnk";
const std::wstring otherShortcut = L"E2E Other.lnk";

class StartMenu : public Scenario {
protected:
    void SetUp() override {
        commonPrograms = folderPath(CSIDL_COMMON_PROGRAMS);
        userPrograms = folderPath(CSIDL_PROGRAMS);
        userStartup = folderPath(CSIDL_STARTUP);
        removeOurs();
        Scenario::SetUp();
    }
    void TearDown() override {
        Scenario::TearDown();
        removeOurs();
    }

    // Only the scenario's own names: the Programs and Startup folders are
    // the prefix's.
    void removeOurs() const {
        for (const std::wstring& programs : {commonPrograms, userPrograms}) {
            removeTree(programs + L"\\" + group);
            removeTree(programs + L"\\" + sharedGroup);
        }
        for (const std::wstring& name : {ourShortcut, otherShortcut})
            DeleteFileW((userStartup + L"\\" + name).c_str());
    }

    // The application's files, its registration, and a log naming `lines`.
    void install(const std::vector<std::string>& lines) const {
        createFolder(installDir);
        createFile(installDir + L"\\e2eapp.exe");
        createFile(installDir + L"\\readme.txt");
        writeLog(installDir, lines);
        registerWithUninstallEntry(installDir + L"\\e2eapp.exe");
    }

    static void uninstallEverything() {
        ASSERT_NO_FATAL_FAILURE(expectEverythingUninstalled());
        EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    }

    std::wstring commonPrograms;
    std::wstring userPrograms;
    std::wstring userStartup;
};

TEST_F(StartMenu, GroupInTheAllUsersAndThePerUserProgramsFolderIsRemoved) {
    install({"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\""});
    createFolder(commonPrograms + L"\\" + group);
    createFolder(userPrograms + L"\\" + group + L"\\Help");
    createShortcut(commonPrograms + L"\\" + group + L"\\" + ourShortcut,
                   installDir + L"\\e2eapp.exe");
    createShortcut(userPrograms + L"\\" + group + L"\\Read Me.lnk", installDir + L"\\readme.txt");
    createShortcut(userPrograms + L"\\" + group + L"\\Help\\Folder.lnk", installDir);

    uninstallEverything();
    EXPECT_FALSE(folderExists(commonPrograms + L"\\" + group));
    EXPECT_FALSE(folderExists(userPrograms + L"\\" + group));
    EXPECT_TRUE(folderExists(commonPrograms));
    EXPECT_TRUE(folderExists(userPrograms));
}

TEST_F(StartMenu, AnotherApplicationsShortcutKeepsTheSharedGroup) {
    const std::wstring folder = userPrograms + L"\\" + sharedGroup;
    // Named by a directory-created line inside the Programs folder alone.
    install({"ACTION: CreateDir: \"" + narrow(installDir) + "\"",
             "ACTION: CreateDir: \"" + narrow(folder) + "\""});
    createFolder(folder);
    createShortcut(folder + L"\\" + ourShortcut, installDir + L"\\e2eapp.exe");
    createShortcut(folder + L"\\" + otherShortcut, L"C:\\Program Files\\E2E Other\\other.exe");
    createFile(folder + L"\\E2E Web.url",
               "[InternetShortcut]\r\nURL=file:///C:/Program%20Files/E2E%20App/readme.txt\r\n");
    createFile(folder + L"\\E2E notes.txt", "C:\\Program Files\\E2E App\\e2eapp.exe");

    uninstallEverything();
    EXPECT_FALSE(fileExists(folder + L"\\" + ourShortcut));
    EXPECT_FALSE(fileExists(folder + L"\\E2E Web.url"));
    EXPECT_TRUE(fileExists(folder + L"\\" + otherShortcut));
    EXPECT_TRUE(fileExists(folder + L"\\E2E notes.txt"));
}

TEST_F(StartMenu, StartupNamedAsTheGroupLosesOnlyThisApplicationsShortcut) {
    install({"ACTION: ShellLink: \"Startup\",\"E2E App\",\"e2eapp.exe\""});
    createFolder(userStartup);
    createShortcut(userStartup + L"\\" + ourShortcut, installDir + L"\\e2eapp.exe");
    createShortcut(userStartup + L"\\" + otherShortcut, L"C:\\Program Files\\E2E Other\\o.exe");

    uninstallEverything();
    EXPECT_FALSE(fileExists(userStartup + L"\\" + ourShortcut));
    EXPECT_TRUE(fileExists(userStartup + L"\\" + otherShortcut));
    EXPECT_TRUE(folderExists(userStartup));
}

TEST_F(StartMenu, ExpandableRegistrationNamesTheExpandedFolder) {
    install({"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\""});
    // A 32-bit program on 64-bit Windows has %ProgramFiles% expand to
    // Program Files (x86) (Wow64.Registered32BitApplicationGoesWholeInTheWindow
    // installs there); its name for C:\Program Files is %ProgramW6432%.
    setExpandString(appPathsKey + L"\\" + app, runsUnderWow64()
                                                   ? L"%ProgramW6432%\\E2E App\\e2eapp.exe"
                                                   : L"%ProgramFiles%\\E2E App\\e2eapp.exe");
    createFolder(commonPrograms + L"\\" + group);
    createShortcut(commonPrograms + L"\\" + group + L"\\" + ourShortcut,
                   installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(uninst::driver::rowCount(uninst::driver::fileList(form)), 2);
    markAndPress(form, {});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(folderExists(commonPrograms + L"\\" + group));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// The fixed root as older systems have it, with folders of the system's and
// of other applications in it: a log may name any of them.
const std::wstring classicRoot = startMenuRoot.substr(0, startMenuRoot.size() - 1);
const std::wstring acme = startMenuRoot + L"E2E Acme";
const std::wstring otherTools = startMenuRoot + L"E2E Tools";
const std::wstring otherAppGroup = startMenuRoot + L"E2E Other App";
const std::wstring otherTarget = L"C:\\Program Files\\E2E Other\\other.exe";
const std::wstring notes = L"E2E notes.txt";

std::string contentOf(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "(unreadable)";
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// Every file below the fixed root with its content, but those below
// `except`.
std::vector<std::string> classicWorld(const std::wstring& except = L"") {
    std::vector<std::string> seen;
    for (const std::wstring& file : filesInListingOrder(classicRoot)) {
        if (except.empty() || file.rfind(except + L"\\", 0) != 0)
            seen.push_back(narrow(file) + " = " + contentOf(file));
    }
    return seen;
}

class ClassicRoot : public StartMenu {
protected:
    void SetUp() override {
        createFolder(classicRoot);
        for (const wchar_t* name : {L"Startup", L"Accessories"}) {
            const std::wstring folder = startMenuRoot + name;
            if (!folderExists(folder)) {
                createFolder(folder);
                madeFolders_.push_back(folder);
            }
        }
        StartMenu::SetUp();
    }
    void cleanUpOwn() override {
        for (const std::wstring& folder : {acme, otherTools, otherAppGroup})
            removeTree(folder);
        for (const wchar_t* name : {L"Startup", L"Accessories"}) {
            for (const std::wstring& file : {ourShortcut, otherShortcut, notes})
                DeleteFileW((startMenuRoot + name + L"\\" + file).c_str());
        }
    }
    void TearDown() override {
        StartMenu::TearDown();
        for (const std::wstring& folder : madeFolders_)
            RemoveDirectoryW(folder.c_str());
    }

    // Another program's shortcut and a user's file in `folder`.
    static void putOthersInto(const std::wstring& folder) {
        createFolder(folder);
        createShortcut(folder + L"\\" + otherShortcut, otherTarget);
        createFile(folder + L"\\" + notes, "my notes");
    }

    static std::string shortcutLine(const std::wstring& groupSteps) {
        return "ACTION: ShellLink: \"" + narrow(groupSteps) + "\",\"E2E App\",\"" +
               narrow(installDir) + "\\e2eapp.exe\",\"\"";
    }

private:
    std::vector<std::wstring> madeFolders_;
};

// The vendor's folder, then the product's group in it: the group is both
// steps, and another vendor's group named as the last step stays whole.
TEST_F(ClassicRoot, GroupOfTwoStepsLeavesAnotherApplicationsGroupOfTheSameName) {
    install({"ACTION: CreateDir: \"" + narrow(installDir) + "\"",
             "ACTION: CreateDir: \"" + narrow(acme) + "\"",
             "ACTION: CreateDir: \"" + narrow(acme) + "\\E2E Tools\"",
             shortcutLine(L"E2E Acme\\E2E Tools"),
             "ACTION: CreateDir: \"C:\\WINDOWS\\SYSTEM\\E2E Tools\""});
    createFolder(acme + L"\\E2E Tools");
    createShortcut(acme + L"\\E2E Tools\\" + ourShortcut, installDir + L"\\e2eapp.exe");
    putOthersInto(otherTools);
    const std::vector<std::string> before = classicWorld(acme);

    Uninstaller run(L"/quiet " + app);
    ASSERT_EQ(run.exitStatus(), 0);
    EXPECT_FALSE(folderExists(acme));
    EXPECT_EQ(classicWorld(), before);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// Startup and Accessories are the system's, "E2E Other App" another
// application's group: only this application's shortcut goes from each.
TEST_F(ClassicRoot, FolderAShortcutLineNamesLosesOnlyThisApplicationsShortcut) {
    for (const std::wstring& name :
         {std::wstring(L"Startup"), std::wstring(L"Accessories"), std::wstring(L"E2E Other App")}) {
        SCOPED_TRACE(narrow(name));
        const std::wstring folder = startMenuRoot + name;
        install({shortcutLine(name)});
        putOthersInto(folder);
        createShortcut(folder + L"\\" + ourShortcut, installDir + L"\\e2eapp.exe");
        const std::vector<std::string> others = classicWorld();

        std::wstring report;
        ASSERT_EQ(e2e::uninstallEverything(app, report), 0) << narrow(report);
        EXPECT_FALSE(fileExists(folder + L"\\" + ourShortcut));
        std::vector<std::string> expected;
        for (const std::string& line : others) {
            if (line.rfind(narrow(folder + L"\\" + ourShortcut) + " = ", 0) != 0)
                expected.push_back(line);
        }
        EXPECT_EQ(classicWorld(), expected);
        EXPECT_TRUE(fileExists(folder + L"\\" + otherShortcut));
        EXPECT_TRUE(fileExists(folder + L"\\" + notes));
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    }
}

// A group holding only this application's shortcuts, found by where they
// lead, goes whole, as it always did.
TEST_F(ClassicRoot, GroupOfOnlyThisApplicationsShortcutsGoesWhole) {
    const std::wstring menu = startMenuRoot + group;
    install({"ACTION: CreateDir: \"" + narrow(menu) + "\""});
    createFolder(menu + L"\\Help");
    createShortcut(menu + L"\\" + ourShortcut, installDir + L"\\e2eapp.exe");
    createShortcut(menu + L"\\E2E Read Me.lnk", installDir + L"\\readme.txt");
    createShortcut(menu + L"\\Help\\E2E Folder.lnk", installDir);
    putOthersInto(otherAppGroup);
    const std::vector<std::string> before = classicWorld(menu);

    uninstallEverything();
    EXPECT_FALSE(folderExists(menu));
    EXPECT_EQ(classicWorld(), before);
}

} // namespace
} // namespace e2e
