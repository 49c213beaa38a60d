// Bad inputs and a hostile world, tried on the real program: damaged logs,
// registrations that do not fit, odd arguments, files and folders held by
// another process, long paths and names in many scripts.
#include "tests/e2e/scenarios.h"
#include "tests/support/win32_handles.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace e2e {
namespace {

namespace driver = uninst::driver;

using uninst::test::FileHandle;
using uninst::test::KeyHandle;

const std::wstring quotedName = L"\"e2e quoted app.exe\"";
const std::wstring unquotedName = L"e2e quoted app.exe";
const std::wstring otherApp = L"e2eother.exe";
const std::wstring otherEntry = L"E2E Other App";
const std::wstring otherMenu = startMenuRoot + group;
const std::wstring outsideFile = linkTarget + L"\\precious.doc";
// The code page has no place for an "a" with a macron, small or capital; the
// nearest look-alike it has is a plain "a".
const std::wstring lookAlikeApp = L"e2e\u0101pp.exe";
const std::wstring lookAlikeDir = L"C:\\Program Files\\E2E \u0100pp";

// The form the wide API takes for paths of any length.
std::wstring longForm(const std::wstring& path) {
    return L"\\\\?\\" + path;
}

DWORD valueCount(const std::wstring& path) {
    KeyHandle key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return 0;
    DWORD values = 0;
    RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                     nullptr, nullptr, nullptr, nullptr);
    return values;
}

bool contains(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

// Answers Cancel to the question about a file that cannot be deleted.
long cancel(Uninstaller& run, std::wstring& question) {
    if (HWND box = driver::waitForMessageBox(run.target(), 30000)) {
        question = driver::messageText(box);
        driver::answer(box, IDCANCEL);
    }
    return run.exitStatus();
}

class BadInput : public Scenario {
protected:
    void cleanUpOwn() override {
        for (const std::wstring& name : {quotedName, unquotedName}) {
            deleteKeyTree(appPathsKey + L"\\" + name);
            deleteKeyTree(uninstallKey + L"\\" + name);
        }
        removeTree(longForm(installDir));
        removeTree(lookAlikeDir);
    }

    // What belongs to someone else: another application's registration,
    // shared counts and a start-menu group the log does not name (its
    // shortcut leads into the install folder, so a run that takes a group
    // the log did not name takes it), a file outside the install folder.
    // Every run must leave all of it as it was.
    void buildBystanders() {
        registerApp(otherApp, L"C:\\Program Files\\E2E Other\\e2eother.exe");
        setString(uninstallKey + L"\\" + otherEntry, L"AppToUninstall", otherApp);
        for (const std::wstring& file : sharedFiles)
            setDword(sharedDllsKey, file, 3);
        createFolder(otherMenu);
        createShortcut(otherMenu + L"\\E2E App.lnk", installDir + L"\\e2eapp.exe");
        createFolder(linkTarget);
        createFile(outsideFile);
        sharedValues_ = valueCount(sharedDllsKey);
    }

    void expectBystandersUntouched(bool groupNamed = false, bool firstCountNamed = false) {
        EXPECT_TRUE(keyExists(appPathsKey + L"\\" + otherApp));
        EXPECT_TRUE(keyExists(uninstallKey + L"\\" + otherEntry));
        for (std::size_t i = 0; i < sharedFiles.size(); ++i) {
            if (!(firstCountNamed && i == 0)) {
                EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[i]), 3u) << narrow(sharedFiles[i]);
            }
        }
        EXPECT_EQ(valueCount(sharedDllsKey), sharedValues_);
        if (!groupNamed) {
            EXPECT_TRUE(fileExists(otherMenu + L"\\E2E App.lnk"));
        }
        EXPECT_TRUE(fileExists(outsideFile));
    }

    // What a refused start leaves: the files and keys named, and everything
    // of the bystanders.
    void expectStillThere(const std::vector<std::wstring>& files,
                          const std::vector<std::wstring>& keys) {
        for (const std::wstring& file : files)
            EXPECT_TRUE(fileExists(file)) << narrow(file);
        for (const std::wstring& key : keys)
            EXPECT_TRUE(keyExists(key)) << narrow(key);
        expectBystandersUntouched();
    }

    // Starts the program with `arguments` and expects the refusal a
    // registration that cannot be used gets: one report naming `named`, no
    // window, and status 1605.
    static FailedStart expectRefusal(const std::wstring& arguments, const std::wstring& named) {
        const FailedStart start = startFailing(arguments);
        EXPECT_TRUE(contains(start.report, named)) << narrow(start.report);
        EXPECT_FALSE(start.formShown);
        EXPECT_EQ(start.status, 1605);
        return start;
    }

    // The install folder with a few files in two levels, and its
    // registration.
    static void buildApplication() {
        createFolder(installDir + L"\\bin");
        for (const wchar_t* name : {L"e2eapp.exe", L"readme.txt", L"bin\\e2eapp.dll"})
            createFile(installDir + L"\\" + name);
        registerWithUninstallEntry(installDir + L"\\e2eapp.exe");
    }

    static void expectApplicationRemoved() {
        EXPECT_FALSE(folderExists(installDir));
        EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
        EXPECT_FALSE(keyExists(uninstallKey + L"\\" + app));
    }

private:
    DWORD sharedValues_ = 0;
};

TEST_F(BadInput, EmptyLogCompletesAndTouchesNothingElse) {
    buildBystanders();
    buildApplication();
    createFile(installDir + L"\\ST6UNST.LOG", "");

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    expectApplicationRemoved();
    expectBystandersUntouched();
}

// Random bytes with NULs are text in no encoding: read as nothing, the run
// would end "done" with whatever group and counts the log named left behind.
// It is refused naming the log, before anything changes.
TEST_F(BadInput, BinaryLogIsRefusedNamingItAndChangesNothing) {
    buildBystanders();
    buildApplication();
    // 64 KiB from a fixed generator: NULs, lone CRs and LFs, bytes of every
    // range, and no line the log reader reacts to.
    std::string bytes(64 * 1024, '\0');
    std::uint32_t seed = 0x2545F491u;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(i % 97 == 0 ? 0 : seed >> 24);
    }
    ASSERT_EQ(bytes.find("ACTION"), std::string::npos);
    ASSERT_EQ(bytes.find("NOTE"), std::string::npos);
    ASSERT_NE(bytes.find('\r'), std::string::npos);
    createFile(installDir + L"\\ST6UNST.LOG", bytes);

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 1603) << narrow(report);
    EXPECT_TRUE(contains(report, installDir + L"\\st6unst.log")) << narrow(report);
    EXPECT_TRUE(contains(report, L"NUL bytes")) << narrow(report);
    expectStillThere({installDir + L"\\e2eapp.exe", installDir + L"\\bin\\e2eapp.dll",
                      installDir + L"\\ST6UNST.LOG"},
                     {appPathsKey + L"\\" + app, uninstallKey + L"\\" + app});
}

TEST_F(BadInput, MegabyteLinesAreReadAsOneLineEachAndTheNextLinesStillCount) {
    buildBystanders();
    buildApplication();
    const std::string megabyte(1024 * 1024, 'E');
    // A plain line, then a shared file whose name no registry holds; the
    // lines after them still name the group and a shared file.
    writeLog(installDir,
             {megabyte, "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2E" + megabyte + "\"",
              "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"",
              "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\""});

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    expectApplicationRemoved();
    EXPECT_FALSE(folderExists(otherMenu));
    EXPECT_EQ(dwordValue(sharedDllsKey, sharedFiles[0]), 2u);
    expectBystandersUntouched(true, true);
}

TEST_F(BadInput, AppPathsValueTooLongForTheBufferCountsAsNotRegistered) {
    buildBystanders();
    createFolder(installDir);
    createFile(installDir + L"\\e2eapp.exe");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    const auto registeredPath = [](std::size_t length) {
        const std::wstring folder = installDir + L"\\";
        return folder + std::wstring(length - folder.size() - 4, L'x') + L".exe";
    };

    // 254 characters and the terminator fill the buffer exactly.
    registerApp(app, registeredPath(254));
    {
        Uninstaller run(app);
        HWND form = run.form();
        ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
        EXPECT_EQ(shownRows(form), narrowAll({installDir + L"\\e2eapp.exe"}));
        PostMessageW(form, WM_CLOSE, 0, 0);
        EXPECT_EQ(run.exitStatus(), 1602);
    }

    registerApp(app, registeredPath(300));
    const FailedStart start = expectRefusal(app, L"\"" + app + L"\"");
    EXPECT_TRUE(contains(start.report, L"App Paths")) << narrow(start.report);
    expectStillThere({installDir + L"\\e2eapp.exe", installDir + L"\\ST6UNST.LOG"},
                     {appPathsKey + L"\\" + app});
}

TEST_F(BadInput, QuotedArgumentNamesTheKeyWithItsQuotes) {
    // The argument text is kept as typed, quotes included, so the plain
    // registration is not the one asked for.
    buildBystanders();
    createFolder(installDir);
    createFile(installDir + L"\\e2eapp.exe");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(unquotedName, installDir + L"\\e2eapp.exe");
    setString(uninstallKey + L"\\" + unquotedName, L"DisplayName", L"E2E Quoted");

    expectRefusal(quotedName, quotedName);
    EXPECT_TRUE(fileExists(installDir + L"\\e2eapp.exe"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + unquotedName));

    // A key whose name holds the quotes is that registration: it alone goes,
    // with the Uninstall entry of the same name.
    registerApp(quotedName, installDir + L"\\e2eapp.exe");
    setString(uninstallKey + L"\\" + quotedName, L"DisplayName", L"E2E Quoted");
    Uninstaller run(quotedName);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(shownRows(form), narrowAll({installDir + L"\\e2eapp.exe"}));
    markAndPress(form, {});
    std::wstring report;
    ASSERT_EQ(finish(run, report), 0) << narrow(report);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + quotedName));
    EXPECT_FALSE(keyExists(uninstallKey + L"\\" + quotedName));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + unquotedName));
    EXPECT_TRUE(keyExists(uninstallKey + L"\\" + unquotedName));
    expectBystandersUntouched();
}

TEST_F(BadInput, FileInUseIsNamedBeforeAnythingChangesAndCancelLeavesAll) {
    buildBystanders();
    createFolder(installDir + L"\\sub");
    for (const wchar_t* name : {L"a.txt", L"b.txt", L"c.txt", L"sub\\d.txt"})
        createFile(installDir + L"\\" + name);
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(app, installDir + L"\\e2eapp.exe");

    std::vector<std::wstring> rows;
    {
        Uninstaller run(app);
        HWND form = run.form();
        ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
        rows = texts(driver::rows(driver::fileList(form)));
        ASSERT_EQ(rows.size(), 4u);
        // Held open by this process, which lets others read and write it but
        // not delete it.
        FileHandle held(CreateFileW(rows[1].c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held) << "error " << GetLastError();
        markAndPress(form, {});
        std::wstring question;
        EXPECT_EQ(cancel(run, question), 1602);
        EXPECT_TRUE(contains(question, rows[1])) << narrow(question);
    }
    for (const std::wstring& row : rows)
        EXPECT_TRUE(fileExists(row)) << narrow(row);
    EXPECT_TRUE(fileExists(installDir + L"\\ST6UNST.LOG"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
    expectBystandersUntouched();

    std::wstring report;
    EXPECT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    expectApplicationRemoved();
    expectBystandersUntouched();
}

TEST_F(BadInput, LogHeldWithoutSharingIsAskedAboutBeforeAnythingIsRemoved) {
    buildBystanders();
    buildApplication();
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"",
                          "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\E2ESHR3.DLL\""});

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    const FileHandle held(CreateFileW((installDir + L"\\ST6UNST.LOG").c_str(), GENERIC_READ, 0,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held) << "error " << GetLastError();
    markAndPress(form, {});
    std::wstring question;
    EXPECT_EQ(cancel(run, question), 1602);
    EXPECT_TRUE(contains(question, installDir + L"\\ST6UNST.LOG")) << narrow(question);
    for (const wchar_t* name : {L"e2eapp.exe", L"readme.txt", L"bin\\e2eapp.dll", L"ST6UNST.LOG"})
        EXPECT_TRUE(fileExists(installDir + L"\\" + name)) << narrow(name);
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
    EXPECT_TRUE(keyExists(uninstallKey + L"\\" + app));
    expectBystandersUntouched();
}

FileHandle openFolder(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// Whether this system refuses to remove a folder while `hold` holds it, tried
// on a folder of the test's own before the program is blamed for anything.
template <typename Hold> bool systemRefusesRemovingHeldFolder(Hold hold) {
    const std::wstring probe = linkTarget + L"\\E2E held probe";
    createFolder(probe);
    bool refused = false;
    {
        const auto holder = hold(probe);
        refused = !RemoveDirectoryW(probe.c_str());
    }
    removeTree(probe);
    return refused;
}

// The install folder held by this process, taken hold of once the program's
// window is up (so that the program's own current folder is elsewhere): the
// files and the log go, the folder stays and is reported, and the start-menu
// group and the registration, which come after it, still go.
using HeldFolder = BadInput;

template <typename Hold> void heldInstallFolderStopsTheRun(Hold hold) {
    createFolder(installDir + L"\\sub");
    createFile(installDir + L"\\a.txt");
    createFile(installDir + L"\\sub\\b.txt");
    createFolder(otherMenu);
    createShortcut(otherMenu + L"\\E2E App.lnk", installDir + L"\\e2eapp.exe");
    createFile(installDir + L"\\ST6UNST.LOG",
               "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\E2E App Group\"\r\n");
    setString(appPathsKey + L"\\" + app, L"", installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    const auto holder = hold(installDir);
    ASSERT_TRUE(holder) << "error " << GetLastError();
    markAndPress(form, {});
    std::wstring report;
    EXPECT_EQ(finish(run, report), 1603);
    EXPECT_TRUE(contains(report, L"delete folder " + installDir + L":")) << narrow(report);
    EXPECT_TRUE(contains(report, L"left behind")) << narrow(report);
    EXPECT_TRUE(folderExists(installDir));
    EXPECT_FALSE(fileExists(installDir + L"\\a.txt"));
    EXPECT_FALSE(fileExists(installDir + L"\\ST6UNST.LOG"));
    EXPECT_FALSE(folderExists(otherMenu));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

std::unique_ptr<CurrentFolder> enterFolder(const std::wstring& path) {
    auto entered = std::make_unique<CurrentFolder>(path);
    if (!entered->set())
        entered.reset();
    return entered;
}

TEST_F(HeldFolder, OpenWithoutLeaveToDeleteStopsTheRunNamingIt) {
    if (!systemRefusesRemovingHeldFolder(openFolder))
        GTEST_SKIP() << "this system removes a folder while a handle without leave to delete is "
                        "open on it";
    heldInstallFolderStopsTheRun(openFolder);
}

TEST_F(HeldFolder, CurrentFolderOfAProcessStopsTheRunNamingIt) {
    if (!systemRefusesRemovingHeldFolder(enterFolder))
        GTEST_SKIP() << "this system removes a folder that is a process's current folder";
    heldInstallFolderStopsTheRun(enterFolder);
}

// Names and registered paths with characters the 8-bit code page has no place
// for. Taking a look-alike for them would act on another application.
TEST_F(BadInput, ArgumentOutsideTheCodePageIsNotTakenForALookAlike) {
    buildBystanders();
    buildApplication();
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});

    expectRefusal(lookAlikeApp, L"App Paths");
    expectStillThere({installDir + L"\\e2eapp.exe"},
                     {appPathsKey + L"\\" + app, uninstallKey + L"\\" + app});
}

TEST_F(BadInput, RegisteredFolderOutsideTheCodePageIsNotTakenForALookAlike) {
    buildBystanders();
    // Another application's folder, whose name is the look-alike.
    createFolder(installDir);
    createFile(installDir + L"\\someone else's.doc");
    createFolder(lookAlikeDir);
    createFile(lookAlikeDir + L"\\e2eapp.exe");
    writeLog(lookAlikeDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(app, lookAlikeDir + L"\\e2eapp.exe");

    expectRefusal(app, L"\"" + app + L"\"");
    expectStillThere({installDir + L"\\someone else's.doc", lookAlikeDir + L"\\e2eapp.exe"},
                     {appPathsKey + L"\\" + app});
}

TEST_F(BadInput, UninstallEntryNamingALookAlikeIsKept) {
    buildBystanders();
    buildApplication();
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    // Without an entry of the application's own name, the scan of the
    // Uninstall list reads every entry's AppToUninstall.
    deleteKeyTree(uninstallKey + L"\\" + app);
    setString(uninstallKey + L"\\{E2E-APP-ID}", L"AppToUninstall", lookAlikeApp);

    std::wstring report;
    ASSERT_EQ(uninstallEverything(app, report), 0) << narrow(report);
    expectApplicationRemoved();
    EXPECT_TRUE(keyExists(uninstallKey + L"\\{E2E-APP-ID}"));
    expectBystandersUntouched();
}

TEST_F(BadInput, PathLongerThan260CharactersIsListedAndRemoved) {
    std::wstring deep = installDir;
    for (const wchar_t* step : {L"first level ", L"second level ", L"third level "})
        deep += L"\\" + (step + std::wstring(90, L'd'));
    const std::wstring file = deep + L"\\a file at the bottom of a long path.txt";
    ASSERT_GT(file.size(), 300u);
    createFolder(longForm(deep));
    createFile(longForm(file));
    createFile(installDir + L"\\e2eapp.exe");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(app, installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(shownRows(form), narrowAll({installDir + L"\\e2eapp.exe", file}));
    markAndPress(form, {});
    std::wstring report;
    ASSERT_EQ(finish(run, report), 0) << narrow(report);
    EXPECT_FALSE(fileExists(longForm(file)));
    EXPECT_FALSE(folderExists(longForm(installDir)));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

TEST_F(BadInput, NamesInSixScriptsAreShownExactlyAndRemoved) {
    const std::vector<std::wstring> names = {L"Crème brûlée à la façon.txt",
                                             L"Ελληνικά γράμματα.txt",
                                             L"Кириллица ёжик.txt",
                                             L"日本語のファイル名.txt",
                                             L"漢字与简体中文.txt",
                                             L"ملف عربي.txt",
                                             L"emoji 😀🎉.txt",
                                             L"mixed Ωμέγα Жж 中 ع 🙂.dat"};
    const std::wstring folder = installDir + L"\\Ünïcødé Κατάλογος Папка 目录";
    createFolder(folder);
    for (const std::wstring& name : names)
        createFile(folder + L"\\" + name);
    createFile(installDir + L"\\e2eapp.exe");
    writeLog(installDir, {"ACTION: CreateDir: \"C:\\Program Files\\E2E App\""});
    registerApp(app, installDir + L"\\e2eapp.exe");
    std::vector<std::wstring> expected = filesInListingOrder(installDir);
    expected.erase(std::remove(expected.begin(), expected.end(), installDir + L"\\ST6UNST.LOG"),
                   expected.end());
    ASSERT_EQ(expected.size(), names.size() + 1);

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    // Row by row, in UTF-16 as the list box hands it out: a name that went
    // through an 8-bit code page or lost half a surrogate pair differs here.
    HWND list = driver::fileList(form);
    ASSERT_EQ(driver::rowCount(list), static_cast<int>(expected.size()));
    for (int i = 0; i < static_cast<int>(expected.size()); ++i) {
        const LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        ASSERT_NE(length, LB_ERR);
        std::wstring row(static_cast<std::size_t>(length) + 1, L'\0');
        row.resize(static_cast<std::size_t>(
            SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(row.data()))));
        EXPECT_EQ(row, expected[i]) << "row " << i << ": " << narrow(row);
    }
    markAndPress(form, {});
    std::wstring report;
    ASSERT_EQ(finish(run, report), 0) << narrow(report);
    for (const std::wstring& path : expected)
        EXPECT_FALSE(fileExists(path)) << narrow(path);
    EXPECT_FALSE(folderExists(installDir));
    EXPECT_FALSE(keyExists(appPathsKey + L"\\" + app));
}

// A name holding half a surrogate pair and a sibling named with U+FFFD, the
// character a lossy conversion puts in its place. The run must act on each
// exactly: the marked look-alike stays, the other goes.
TEST_F(BadInput, NameWithAnUnpairedSurrogateIsRemovedAndItsLookAlikeKept) {
    const std::wstring unpaired = installDir + L"\\half \xD800 pair.txt";
    const std::wstring lookAlike = installDir + L"\\half \xFFFD pair.txt";
    createFolder(installDir);
    {
        FileHandle file(CreateFileW(unpaired.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file || !fileExists(unpaired) || fileExists(lookAlike))
            GTEST_SKIP() << "this system cannot hold a file name with an unpaired surrogate "
                            "(Wine 8 cannot: the name is refused, and one made by the host "
                            "shows U+FFFD)";
    }
    createFile(lookAlike);
    buildSmallInstall();

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    HWND list = driver::fileList(form);
    const int keep = driver::findRow(list, lookAlike);
    ASSERT_GE(keep, 0);
    ASSERT_GE(driver::findRow(list, unpaired), 0) << "the unpaired surrogate was not listed as is";
    ASSERT_TRUE(driver::setMark(list, keep, true));
    ASSERT_TRUE(driver::click(driver::uninstallButton(form)));
    std::wstring report;
    ASSERT_EQ(finish(run, report), 0) << narrow(report);
    EXPECT_FALSE(fileExists(unpaired));
    EXPECT_TRUE(fileExists(lookAlike));
}

} // namespace
} // namespace e2e
