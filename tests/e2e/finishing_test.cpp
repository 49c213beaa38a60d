// A run that finishes what it starts: the install log as found on disk, in
// any of the encodings and line ends it comes in, the application's own
// entries with sub-keys, and failures after the log is gone.
#include "tests/e2e/scenarios.h"

#include <string>
#include <vector>

namespace e2e {
namespace {

namespace driver = uninst::driver;

const std::wstring menu = startMenuRoot + group;
const std::string groupLine =
    "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"";
const std::string countLine = "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\"";

bool contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// A start-menu group whose name the code page and UTF-8 spell differently.
const std::wstring umlautMenu = startMenuRoot + L"E2E B\u00fccher";
const std::string umlautGroupLine =
    "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E B\xC3\xBC"
    "cher\"";

// A shared file whose name the code page and UTF-8 spell differently, and the
// name that reading the UTF-8 in the code page makes of it.
const std::wstring umlautShared = L"C:\\WINDOWS\\SYSTEM\\E2E B\u00fccher.dll";
const std::wstring misreadShared = L"C:\\WINDOWS\\SYSTEM\\E2E B\u00c3\u00bccher.dll";
const std::string umlautCountLine = "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2E B\xC3\xBC"
                                    "cher.dll\"";

std::string utf16(const std::string& utf8, bool bigEndian = false) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<std::size_t>(
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                            static_cast<int>(wide.size()))));
    std::string bytes;
    for (wchar_t c : wide) {
        const char low = static_cast<char>(c & 0xFF);
        const char high = static_cast<char>((c >> 8) & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

std::string umlautLog() {
    return umlautGroupLine + "\r\n" + countLine + "\r\n" + umlautCountLine + "\r\n";
}

class Finishing : public Scenario {
protected:
    void cleanUpOwn() override {
        removeTree(umlautMenu);
        deleteValue(sharedDllsKey, umlautShared);
        deleteValue(sharedDllsKey, misreadShared);
    }

    // A log as another tool may have written it: the start-menu group, then
    // a shared count. The group named and the count lowered show that both
    // lines were read.
    // With `umlautCounted`, the log also names umlautShared: its count is
    // lowered, and that of the name a wrong reading makes of it is not.
    void expectLogRead(const std::string& bytes, const std::wstring& groupFolder,
                       bool umlautCounted = false) {
        buildApplication();
        setDword(sharedDllsKey, umlautShared, 3);
        setDword(sharedDllsKey, misreadShared, 3);
        createFolder(groupFolder);
        createShortcut(groupFolder + L"\\E2E App.lnk", installDir + L"\\e2eapp.exe");
        createFile(installDir + L"\\ST6UNST.LOG", bytes);
        std::wstring report;
        EXPECT_EQ(uninstallEverything(app, report), 0) << narrow(report);
        EXPECT_FALSE(folderExists(groupFolder));
        EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
        EXPECT_EQ(dwordValue(sharedDllsKey, umlautShared), umlautCounted ? 2u : 3u);
        EXPECT_EQ(dwordValue(sharedDllsKey, misreadShared), 3u);
        EXPECT_FALSE(folderExists(installDir));
        expectRegistrationRemoved();
    }

    // Two files in two levels, a group with one shortcut, a shared count
    // of 3 and both registry entries; the log is the test's.
    static void buildApplication() {
        createFolder(installDir + L"\\bin");
        createFile(installDir + L"\\e2eapp.exe");
        createFile(installDir + L"\\bin\\e2eapp.dll");
        createFolder(menu);
        createShortcut(menu + L"\\E2E App.lnk", installDir + L"\\e2eapp.exe");
        setDword(sharedDllsKey, sharedFiles[0], 3);
        registerWithUninstallEntry(installDir + L"\\e2eapp.exe");
    }

    static void expectRegistrationRemoved() {
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
        EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    }
};

TEST_F(Finishing, ReadOnlyShortcutInTheGroupIsReportedAndTheRegistrationStillGoes) {
    buildApplication();
    writeLog(installDir, {groupLine, countLine});
    setReadOnly(menu + L"\\E2E App.lnk", true);

    std::wstring report;
    EXPECT_EQ(uninstallEverything(app, report), 1603);
    EXPECT_TRUE(contains(report, L"left behind")) << narrow(report);
    EXPECT_TRUE(contains(report, menu + L"\\E2E App.lnk")) << narrow(report);
    EXPECT_TRUE(fileExists(menu + L"\\E2E App.lnk"));
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    expectRegistrationRemoved();
}

TEST_F(Finishing, SecondSetupFileAfterTheLogGoesWithTheLogAndTheFolder) {
    buildApplication();
    writeLog(installDir, {groupLine});
    // Listed after the log, so it is the last toolkit file the listing met.
    createFolder(installDir + L"\\Help");
    createFile(installDir + L"\\Help\\ST6UNST.000");

    std::wstring report;
    EXPECT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(folderExists(menu));
    expectRegistrationRemoved();
}

TEST_F(Finishing, OwnEntriesGoWithTheirSubKeysAndAnotherOneStays) {
    buildApplication();
    writeLog(installDir, {groupLine});
    setString(appPathsKey + L"\\" + app + L"\\SupportedProtocols", L"e2e", L"");
    createKey(uninstallKey + L"\\" + app + L"\\Components\\Core");
    registerApp(L"e2eother.exe", L"C:\\Program Files\\E2E Other\\e2eother.exe");
    createKey(appPathsKey + L"\\e2eother.exe\\SupportedProtocols");

    std::wstring report;
    EXPECT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    expectRegistrationRemoved();
    EXPECT_TRUE(keyExists(appPathsKey + L"\\e2eother.exe\\SupportedProtocols"));
}

TEST_F(Finishing, Utf8LogWithAByteOrderMarkNamesItsGroupInUtf8) {
    expectLogRead("\xEF\xBB\xBF" + umlautGroupLine + "\r\n" + countLine + "\r\n", umlautMenu);
}

TEST_F(Finishing, Utf16LogWithAByteOrderMarkIsRead) {
    expectLogRead("\xFF\xFE" + utf16(umlautGroupLine + "\r\n" + countLine + "\r\n"), umlautMenu);
}

// Logs another tool saved: before, each was read in the code page and named
// no group and no count (or BÃ¼cher), and the run reported success.
TEST_F(Finishing, Utf8LogWithoutAMarkNamesItsGroupAndCountInUtf8) {
    expectLogRead(umlautLog(), umlautMenu, true);
}

TEST_F(Finishing, Utf16LogWithoutAMarkIsRead) {
    expectLogRead(utf16(umlautLog()), umlautMenu, true);
}

TEST_F(Finishing, Utf16BigEndianLogWithAMarkIsRead) {
    expectLogRead("\xFE\xFF" + utf16(umlautLog(), true), umlautMenu, true);
}

TEST_F(Finishing, LogWithLineFeedsAloneIsRead) {
    expectLogRead(groupLine + "\n" + countLine + "\n", menu);
}

} // namespace
} // namespace e2e
