// The inventory and the detection rule, read from this side of the process
// boundary: the CSV the program writes to a redirected standard output or
// to its log file, its exit codes, and what a quiet run then does.
#include "tests/e2e/scenarios.h"

#include <map>
#include <string>
#include <vector>

namespace e2e {
namespace {

const std::wstring listRoot = L"C:\\E2E List";
const std::wstring outputFolder = L"C:\\E2E List Output";

Captured runCaptured(const std::wstring& arguments) {
    createFolder(outputFolder);
    return runCapturing(arguments, outputFolder + L"\\stdout.csv", 60000);
}

std::wstring wide(const std::string& text) {
    if (text.empty())
        return {};
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), length);
    return out;
}

// The records of a CSV text, each a list of fields, quotes undone.
std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field.push_back('"');
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                field.push_back(c);
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            fields.push_back(std::move(field));
            field.clear();
            records.push_back(std::move(fields));
            fields.clear();
            ++i;
        } else {
            field.push_back(c);
        }
    }
    EXPECT_TRUE(field.empty() && fields.empty()) << "the text does not end with CR LF";
    return records;
}

// One application of the mixed world and what /list must say of it.
struct Case {
    std::wstring name;
    std::string state;
    long code;
};

class List : public Scenario {
protected:
    void cleanUpOwn() override {
        // The link first: removing the tree through it would empty its target.
        removeKeyLink(appPathsKey + L"\\e2elist-reglink.exe");
        for (const Case& c : cases())
            deleteKeyTree(appPathsKey + L"\\" + c.name);
        deleteKeyTree(uninstallKey + L"\\E2E List Good");
        removeLink(listRoot + L"\\Link");
        for (const wchar_t* name : {L"\\open.doc", L"\\kept.doc"})
            removeLink(listRoot + L"\\Linked" + name);
        deleteKeyTree(appPathsKey + L"\\e2elist-linked.exe");
        removeTree(listRoot);
        removeTree(outputFolder);
    }

    static const std::vector<Case>& cases() {
        static const std::vector<Case> all = {
            {L"e2elist-good.exe", "removable", 0},
            {L"e2elist-\u00fcbung.exe", "removable", 0},
            {L"e2elist-nolog.exe", "no install log", 1603},
            {L"e2elist-readonly.exe", "refused", 1603},
            {L"e2elist-gone.exe", "folder missing", 1605},
            {L"e2elist-drive.exe", "refused", 1603},
            {L"e2elist-relative.exe", "refused", 1603},
            {L"e2elist-dots.exe", "refused", 1603},
            {L"e2elist-windows.exe", "refused", 1603},
            {L"e2elist-link.exe", "refused", 1603},
            // A registry link for an entry: its target's value names a folder,
            // but the run could never delete the link.
            {L"e2elist-reglink.exe", "refused", 1603},
            {L"e2elist-reglinked.exe", "removable", 0},
            {L"e2elist-nofolder.exe", "not registered", 1605},
        };
        return all;
    }

    static void buildLogged(const std::wstring& folder, const std::wstring& name) {
        createFolder(folder);
        createFile(folder + L"\\" + name, "MZ12");
        createFile(folder + L"\\data.mdb", "records");
        writeLog(folder, {"ACTION: CreateDir: \"" + narrow(folder) + "\""});
        registerApp(name, folder + L"\\" + name);
    }

    // Returns whether the links could be made here.
    static bool buildWorld() {
        buildLogged(listRoot + L"\\Good", L"e2elist-good.exe");
        setString(uninstallKey + L"\\E2E List Good", L"DisplayName", L"E2E Good, \"the\" one");
        setString(uninstallKey + L"\\E2E List Good", L"DisplayVersion", L"1.2");
        setString(uninstallKey + L"\\E2E List Good", L"AppToUninstall", L"e2elist-good.exe");
        buildLogged(listRoot + L"\\\u00dcbung, neu", L"e2elist-\u00fcbung.exe");
        // Setups copied files from read-only media as they were: the run
        // cannot delete such a file and stops before any change.
        buildLogged(listRoot + L"\\ReadOnly", L"e2elist-readonly.exe");
        setReadOnly(listRoot + L"\\ReadOnly\\data.mdb", true);
        createFolder(listRoot + L"\\NoLog");
        createFile(listRoot + L"\\NoLog\\e2elist-nolog.exe");
        registerApp(L"e2elist-nolog.exe", listRoot + L"\\NoLog\\e2elist-nolog.exe");
        registerApp(L"e2elist-gone.exe", listRoot + L"\\Gone\\e2elist-gone.exe");
        registerApp(L"e2elist-drive.exe", L"C:\\e2elist-drive.exe");
        registerApp(L"e2elist-relative.exe", L"E2E List\\Good\\e2elist-good.exe");
        registerApp(L"e2elist-dots.exe", listRoot + L"\\Good\\..\\Good\\e2elist-good.exe");
        registerApp(L"e2elist-windows.exe", folderPath(0x24) + L"\\e2elist-windows.exe");
        registerApp(L"e2elist-nofolder.exe", L"e2elist-nofolder.exe");
        buildLogged(linkTarget, L"e2elist-link.exe");
        registerApp(L"e2elist-link.exe", listRoot + L"\\Link\\e2elist-link.exe");
        buildLogged(listRoot + L"\\RegLinked", L"e2elist-reglinked.exe");
        return createFolderLink(listRoot + L"\\Link", linkTarget) &&
               createKeyLink(appPathsKey + L"\\e2elist-reglink.exe",
                             L"\\Registry\\Machine\\" + appPathsKey + L"\\e2elist-reglinked.exe");
    }
};

TEST_F(List, EveryApplicationIsRemovableExactlyWhenAQuietRunRemovesIt) {
    if (!buildWorld())
        GTEST_SKIP() << "no folder or registry link could be made here";

    const Captured all = runCaptured(L"/list");
    ASSERT_EQ(all.code, 0) << all.output;
    const auto records = parseCsv(all.output);
    ASSERT_FALSE(records.empty());
    const std::vector<std::string> header = {"Name",          "DisplayName", "DisplayVersion",
                                             "InstallFolder", "Files",       "Bytes",
                                             "InstallLog",    "State",       "Reason"};
    EXPECT_EQ(records.front(), header);
    std::map<std::string, std::vector<std::string>> byName;
    for (const auto& record : records) {
        ASSERT_EQ(record.size(), header.size()) << all.output;
        EXPECT_EQ(byName.count(record[0]), 0u) << record[0];
        byName[record[0]] = record;
    }
    const auto& good = byName["e2elist-good.exe"];
    ASSERT_FALSE(good.empty()) << all.output;
    EXPECT_EQ(good[1], "E2E Good, \"the\" one");
    EXPECT_EQ(good[2], "1.2");
    EXPECT_EQ(good[3], narrow(listRoot) + "\\Good");
    EXPECT_EQ(good[4], "2");
    EXPECT_EQ(good[5], "11");
    EXPECT_EQ(good[6], "yes");
    // Names and paths outside ASCII come back as they were registered.
    const auto& umlaut = byName["e2elist-\xc3\xbc"
                                "bung.exe"];
    ASSERT_FALSE(umlaut.empty()) << all.output;
    EXPECT_EQ(umlaut[3], narrow(listRoot) + "\\\xc3\x9c"
                                            "bung, neu");

    for (const Case& c : cases()) {
        const std::string name = narrow(c.name);
        SCOPED_TRACE(name);
        ASSERT_EQ(byName.count(name), 1u) << all.output;
        EXPECT_EQ(byName[name][7], c.state) << byName[name][8];

        // The detection rule: one record, the same, and its exit code.
        const Captured one = runCaptured(L"/list \"" + c.name + L"\"");
        EXPECT_EQ(one.code, c.code) << one.output;
        const auto single = parseCsv(one.output);
        ASSERT_EQ(single.size(), 2u) << one.output;
        EXPECT_EQ(single[1], byName[name]);

        const std::wstring folder = wide(byName[name][3]);
        const bool folderWas = !folder.empty() && folderExists(folder);
        const long quiet = runCaptured(L"/quiet \"" + c.name + L"\"").code;
        EXPECT_EQ(quiet == 0, c.state == "removable") << quiet;
        if (c.state == "removable") {
            EXPECT_FALSE(keyExists(appPathsKey + L"\\" + c.name));
            EXPECT_FALSE(folderExists(folder));
        } else {
            EXPECT_TRUE(keyExists(appPathsKey + L"\\" + c.name));
            EXPECT_EQ(quiet, c.state == "not registered" ? 1605 : 1603);
            EXPECT_EQ(!folder.empty() && folderExists(folder), folderWas);
        }
    }
    EXPECT_TRUE(fileExists(linkTarget + L"\\e2elist-link.exe"));
    EXPECT_TRUE(fileExists(listRoot + L"\\NoLog\\e2elist-nolog.exe"));
}

// Files that are links to someone else's, one writable, one read-only: the
// quiet run passes over both, so the application is removable, and neither
// the listing nor the run touches what they lead to.
TEST_F(List, FileLinksToAnothersFilesAreJudgedAsTheRunJudgesThem) {
    const std::wstring folder = listRoot + L"\\Linked";
    buildLogged(folder, L"e2elist-linked.exe");
    createFolder(linkTarget);
    for (const wchar_t* name : {L"\\open.doc", L"\\kept.doc"})
        createFile(linkTarget + name, "someone else's");
    setReadOnly(linkTarget + L"\\kept.doc", true);
    if (!createFileLink(folder + L"\\open.doc", linkTarget + L"\\open.doc") ||
        !createFileLink(folder + L"\\kept.doc", linkTarget + L"\\kept.doc"))
        GTEST_SKIP() << "this system cannot make a file link for the test";

    const Captured one = runCaptured(L"/list e2elist-linked.exe");
    EXPECT_EQ(one.code, 0) << one.output;
    const auto records = parseCsv(one.output);
    ASSERT_EQ(records.size(), 2u) << one.output;
    EXPECT_EQ(records[1][7], "removable") << records[1][8];

    EXPECT_EQ(runCaptured(L"/quiet e2elist-linked.exe").code, 0);
    EXPECT_FALSE(keyExists(appPathsKey + L"\\e2elist-linked.exe"));
    EXPECT_FALSE(fileExists(folder + L"\\data.mdb"));
    for (const wchar_t* name : {L"\\open.doc", L"\\kept.doc"})
        EXPECT_EQ(readFile(linkTarget + name), "someone else's") << narrow(name);
}

TEST_F(List, ChangesNothingShowsNothingAndWritesToTheLogFileWhenAsked) {
    buildLogged(listRoot + L"\\Good", L"e2elist-good.exe");
    const std::vector<std::wstring> before = filesInListingOrder(listRoot);
    createFolder(outputFolder);
    const std::wstring csv = outputFolder + L"\\inventory.csv";

    const Captured run = runCaptured(L"/list \"/log:" + csv + L"\" e2elist-good.exe");
    EXPECT_EQ(run.code, 0);
    EXPECT_EQ(run.output, "");
    const auto records = parseCsv(readFile(csv));
    ASSERT_EQ(records.size(), 2u) << readFile(csv);
    EXPECT_EQ(records[1][0], "e2elist-good.exe");
    EXPECT_EQ(records[1][7], "removable");
    EXPECT_EQ(filesInListingOrder(listRoot), before);
    EXPECT_TRUE(keyExists(appPathsKey + L"\\e2elist-good.exe"));

    // Not installed, and a line it refuses: no window, no message box.
    for (const std::wstring arguments :
         {L"/list e2elist-nothere.exe", L"/list /keep:*.mdb e2elist-good.exe"}) {
        SCOPED_TRACE(narrow(arguments));
        Uninstaller listing(arguments);
        std::wstring window;
        const long code = listing.exitStatusUnwatched(window);
        EXPECT_EQ(window, L"");
        EXPECT_EQ(code, arguments.find(L"/keep") == std::wstring::npos ? 1605 : 1639);
    }
    EXPECT_EQ(filesInListingOrder(listRoot), before);
}

} // namespace
} // namespace e2e
