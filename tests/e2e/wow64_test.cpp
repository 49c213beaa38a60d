// A 32-bit application on 64-bit Windows, registered as its 32-bit setup
// registers it: App Paths in the key both views share, Uninstall and
// SharedDLLs in the 32-bit view, the files in Program Files (x86). A 64-bit
// application of the same name keeps its entries and counts in the 64-bit
// view. Only a 64-bit prefix has two views; in a 32-bit one these scenarios
// say so and are skipped.
#include "tests/e2e/scenarios.h"

namespace e2e {
namespace {

const std::wstring x86Dir = L"C:\\Program Files (x86)\\E2E App";
const std::wstring x86Exe = x86Dir + L"\\e2eapp.exe";
// What a 32-bit setup logged: System32 is SysWOW64 for it, and SharedDLLs
// holds its count under the name it logged.
const std::wstring sharedName = L"C:\\WINDOWS\\SYSTEM32\\E2EWOW.DLL";
const std::wstring ownUninstall = uninstallKey + L"\\" + app;
const std::wstring otherUninstall = uninstallKey + L"\\E2E Other App";

class Wow64 : public Scenario {
protected:
    void SetUp() override {
        if (!runsUnderWow64())
            GTEST_SKIP() << "only a 64-bit Windows has a 32-bit registry view and Program Files "
                            "(x86); this prefix is a 32-bit one";
        Scenario::SetUp();
    }

    void cleanUpOwn() override {
        removeKeyLink(ownUninstall + L"\\Link");
        removeTree(x86Dir);
        for (REGSAM view : {REGSAM{0}, REGSAM{KEY_WOW64_64KEY}}) {
            deleteKeyTree(ownUninstall, view);
            deleteKeyTree(otherUninstall, view);
            deleteValue(sharedDllsKey, sharedName, view);
        }
    }

    // The 32-bit application, its group and its counts, and the 64-bit
    // application of the same name in the 64-bit view.
    static void install() {
        wchar_t programFiles[MAX_PATH] = {};
        ExpandEnvironmentStringsW(L"%ProgramFiles%", programFiles, MAX_PATH);
        ASSERT_EQ(narrow(programFiles), "C:\\Program Files (x86)");

        const std::wstring menu = startMenuRoot + group;
        createFolder(x86Dir + L"\\data");
        createFolder(menu);
        for (const wchar_t* name : {L"e2eapp.exe", L"readme.txt", L"data\\e2e.dat"})
            createFile(x86Dir + L"\\" + name);
        createFile(menu + L"\\E2E App.lnk");
        writeLog(x86Dir, {"ACTION: CreateDir: \"C:\\Program Files (x86)\\E2E App\"",
                          "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"",
                          "ACTION: ShellLink: \"E2E App Group\",\"E2E App\",\"e2eapp.exe\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM32\\E2EWOW.DLL\""});
        registerApp(app, x86Exe);
        setString(ownUninstall, L"DisplayName", L"E2E App (32-bit)");
        setDword(sharedDllsKey, sharedName, 3);

        setString(ownUninstall, L"DisplayName", L"E2E App (64-bit)", KEY_WOW64_64KEY);
        setString(otherUninstall, L"AppToUninstall", app, KEY_WOW64_64KEY);
        setDword(sharedDllsKey, sharedName, 5, KEY_WOW64_64KEY);
    }

    static void expectRemovedAndThe64BitOneUntouched() {
        EXPECT_FALSE(folderExists(x86Dir));
        EXPECT_FALSE(folderExists(startMenuRoot + group));
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app, KEY_WOW64_64KEY));
        EXPECT_FALSE(keyExists(ownUninstall));
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedName), 2u);

        EXPECT_EQ(stringValue(ownUninstall, L"DisplayName", KEY_WOW64_64KEY),
                  std::optional<std::wstring>(L"E2E App (64-bit)"));
        EXPECT_TRUE(keyExists(otherUninstall, KEY_WOW64_64KEY));
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedName, KEY_WOW64_64KEY), 5u);
    }
};

TEST_F(Wow64, Registered32BitApplicationGoesWholeInTheWindow) {
    install();
    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(uninst::driver::rowCount(uninst::driver::fileList(form)), 3);
    markAndPress(form, {});
    ASSERT_EQ(run.exitStatus(), 0) << narrow(run.takeErrorReport(0));
    expectRemovedAndThe64BitOneUntouched();
}

TEST_F(Wow64, Registered32BitApplicationGoesWholeInAQuietRun) {
    install();
    Uninstaller run(L"/quiet " + app);
    ASSERT_EQ(run.exitStatus(), 0);
    expectRemovedAndThe64BitOneUntouched();
}

TEST_F(Wow64, LinkInTheOwnEntryToThe64BitEntryIsNotFollowed) {
    install();
    // Planted in the 32-bit entry, leading to the 64-bit application's entry
    // of the same name, where the system keeps it.
    if (!createKeyLink(ownUninstall + L"\\Link",
                       L"\\Registry\\Machine\\" + uninstallKey + L"\\" + app))
        GTEST_SKIP() << "this system made no registry link";
    ASSERT_TRUE(keyExists(ownUninstall + L"\\Link"));

    // The removal could never delete the entry holding it: the run is refused
    // before it changes anything, rather than leaving the entry behind.
    Uninstaller run(L"/quiet " + app);
    EXPECT_EQ(run.exitStatus(), 1603);
    EXPECT_TRUE(folderExists(x86Dir));
    EXPECT_EQ(stringValue(ownUninstall, L"DisplayName", KEY_WOW64_64KEY),
              std::optional<std::wstring>(L"E2E App (64-bit)"))
        << "the 64-bit entry was changed through the link";
    EXPECT_TRUE(keyExists(ownUninstall + L"\\Link")) << "the link was deleted";
    EXPECT_TRUE(keyExists(otherUninstall, KEY_WOW64_64KEY));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedName, KEY_WOW64_64KEY), 5u);
}

} // namespace
} // namespace e2e
