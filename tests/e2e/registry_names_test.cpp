// Registrations as the system matches and measures them: names in another
// letter case beyond a-z, and names and paths whose UTF-8 form is longer than
// the 255 characters of the code page they take.
#include "tests/e2e/scenarios.h"

#include <string>
#include <thread>

namespace e2e {
namespace {

namespace driver = uninst::driver;

const std::wstring accentedApp = L"e2e\u00fcbung.exe";   // e2eübung.exe
const std::wstring accentedTyped = L"E2E\u00dcBUNG.EXE"; // E2EÜBUNG.EXE
const std::wstring accentLessApp = L"e2eubung.exe";
// 173 characters registered, 313 bytes in UTF-8; no step longer than the
// host's 255 bytes for a name.
const std::wstring accentedDir = L"C:\\Program Files\\E2E " + std::wstring(100, L'\u00e9');
const std::wstring accentedBin = accentedDir + L"\\" + std::wstring(40, L'\u00e8');
// Sorted before "e2eapp.exe", as the registry sorts: "0" comes before "A".
const std::wstring longAppPathsName = L"e2e0" + std::wstring(130, L'\u00e9');
const std::wstring tooLongEntry = L"e2e0" + std::wstring(251, L'\u00e9');
// Its path below the machine's key is longer than the 8-bit calls open.
const std::wstring tooLongAppPathsName = L"e2e1" + std::wstring(220, L'k') + L".exe";
// No character of it is in the 8-bit code page: that list names it "?? entry".
const std::wstring foreignEntry = L"E2E \u8f6f\u4ef6 entry";

class RegistryNames : public Scenario {
protected:
    void cleanUpOwn() override {
        for (const std::wstring& name : {accentedApp, accentLessApp, longAppPathsName}) {
            deleteKeyTree(appPathsKey + L"\\" + name);
            deleteKeyTree(uninstallKey + L"\\" + name);
        }
        deleteKeyTree(uninstallKey + L"\\" + tooLongEntry);
        deleteKeyTree(appPathsKey + L"\\" + tooLongAppPathsName);
        deleteKeyTree(uninstallKey + L"\\" + foreignEntry);
        removeTree(accentedDir);
    }
};

// Started with the name typed in capitals, the program found the folder
// because the registry matched the name; its entries must go the same way.
TEST_F(RegistryNames, NameTypedInAnotherCaseBeyondAToZRemovesTheEntries) {
    createFolder(installDir);
    createFile(installDir + L"\\e2eapp.exe");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(accentedApp, installDir + L"\\e2eapp.exe");
    setString(uninstallKey + L"\\{E2E-APP-ID}", L"AppToUninstall", accentedApp);
    // Another application whose name differs only by the accent.
    registerApp(accentLessApp, L"C:\\Program Files\\E2E Other\\e2eubung.exe");
    setString(uninstallKey + L"\\E2E Other App", L"AppToUninstall", accentLessApp);

    std::wstring report;
    ASSERT_EQ(uninstallEverything(accentedTyped, report), 0) << narrow(report);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + accentedApp));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\{E2E-APP-ID}"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + accentLessApp));
    EXPECT_TRUE(keyExists(uninstallKey + L"\\E2E Other App"));
}

// A reinstall by another version of a setup leaves an entry named after the
// application and one that names it by AppToUninstall. Before, the first went,
// the scan stopped, and the second stayed listed as installed for ever.
TEST_F(RegistryNames, EveryEntryOfTheApplicationGoesAndAnotherStays) {
    buildSmallInstall();
    registerWithUninstallEntry(installDir + L"\\e2eapp.exe");
    setString(uninstallKey + L"\\{E2E-APP-ID}", L"DisplayName", L"E2E App (2)");
    setString(uninstallKey + L"\\{E2E-APP-ID}", L"AppToUninstall", L"E2EAPP.EXE");
    setString(appPathsKey + L"\\E2E Other App", L"AppToUninstall", app);
    registerApp(L"e2eother.exe", L"C:\\Program Files\\E2E Other\\e2eother.exe");
    setString(uninstallKey + L"\\E2E Other App", L"AppToUninstall", L"e2eother.exe");

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\{E2E-APP-ID}"));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\E2E Other App"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\e2eother.exe"));
    EXPECT_TRUE(keyExists(uninstallKey + L"\\E2E Other App"));
}

// Another application's entry named in a script the code page does not
// hold: the 8-bit list names it by characters that open nothing. Before, the
// run took it for an entry deleted meanwhile, walked the list again and
// again, and ended 1603 saying the list kept changing, on every machine
// holding one, though it had removed everything.
TEST_F(RegistryNames, EntryNamedOutsideTheCodePageIsPassedOver) {
    buildSmallInstall();
    registerWithUninstallEntry(installDir + L"\\e2eapp.exe");
    setString(uninstallKey + L"\\" + foreignEntry, L"DisplayName", L"Another");

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_TRUE(keyExists(uninstallKey + L"\\" + foreignEntry));
}

// Every limit counts characters of the code page: a folder, and another
// application's key name, of well over 128 accented letters fit the
// 255-character buffers, though they take more than 255 bytes in UTF-8; a name that does not fit is
// another application's and is passed over.
TEST_F(RegistryNames, LengthsCountCodePageCharactersAndLongNamesArePassedOver) {
    createKey(appPathsKey + L"\\" + longAppPathsName);
    setString(appPathsKey + L"\\" + tooLongAppPathsName, L"", L"C:\\E2E Long\\k.exe");
    createKey(uninstallKey + L"\\" + tooLongEntry);
    if (!keyExists(uninstallKey + L"\\" + tooLongEntry))
        GTEST_SKIP() << "this registry takes no key name of 255 characters";
    setString(uninstallKey + L"\\" + tooLongEntry, L"AppToUninstall", L"e2eother.exe");
    createFolder(accentedBin);
    createFile(accentedBin + L"\\e2eapp.exe");
    createFile(accentedBin + L"\\readme.txt");
    writeLog(accentedBin, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerWithUninstallEntry(accentedBin + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(driver::rows(driver::fileList(form)).size(), 2u);
    markAndPress(form, {});
    std::wstring report;
    if (HWND box = driver::waitForMessageBox(run.target(), 30000)) {
        report = driver::messageText(box);
        driver::dismiss(box);
    }
    ASSERT_EQ(run.exitStatus(), 0) << narrow(report);
    EXPECT_FALSE(folderExists(accentedBin));
    EXPECT_TRUE(folderExists(accentedDir)) << "not the application's: the log does not name it";
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + longAppPathsName));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + tooLongAppPathsName));
    EXPECT_TRUE(keyExists(uninstallKey + L"\\" + tooLongEntry));
}

// Another uninstaller removing its own entries while this run reads every
// entry: each one it deletes is gone, not unreadable, and the entries of
// this application that the deletions move up the lists are still found,
// so the run that removed everything ends 0. The other's entries sort
// before these, and go while the registration is removed, after the files.
TEST_F(RegistryNames, EntriesOthersRemoveMeanwhileAreGoneNotUnreadable) {
    const auto other = [](int n) {
        return (n % 2 == 0 ? appPathsKey : uninstallKey) + L"\\e2e0other" + std::to_wstring(n) +
               L".exe";
    };
    constexpr int others = 400;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        for (int n = 0; n < others; ++n)
            setString(other(n), L"AppToUninstall", L"e2e0other.exe");
        buildSmallInstall();
        setString(uninstallKey + L"\\{E2E-APP-ID}", L"AppToUninstall", app);
        std::thread removal([&] {
            for (int wait = 0; wait < 20000 && folderExists(installDir); ++wait)
                Sleep(0);
            for (int n = 0; n < others; ++n)
                RegDeleteKeyW(HKEY_LOCAL_MACHINE, other(n).c_str());
        });
        EXPECT_EQ(Uninstaller(L"/quiet " + app).exitStatus(), 0);
        removal.join();
        EXPECT_FALSE(folderExists(installDir));
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
        EXPECT_FALSE(keyExists(uninstallKey + L"\\{E2E-APP-ID}"));
    }
    for (int n = 0; n < others; ++n)
        deleteKeyTree(other(n));
}

} // namespace
} // namespace e2e
