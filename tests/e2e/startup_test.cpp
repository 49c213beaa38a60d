// Start-up: what the window shows, and how a start that cannot go on ends.
#include "tests/e2e/scenarios.h"

#include <algorithm>

namespace e2e {
namespace {

namespace driver = uninst::driver;

using StartUp = Scenario;

TEST_F(StartUp, ShowsEveryFileInListingOrderAndClosingRemovesNothing) {
    const std::vector<std::wstring> names = {
        L"zeta.txt", L"_x.txt",    L"Alpha.txt",  L"beta.txt",      L"A0.txt",
        L"a1.txt",   L"Gamma.txt", L"ST6UNS.LOG", L"myST6UNST.LOG", L"ST6UNS"};
    createFolder(installDir + L"\\sub a");
    createFolder(installDir + L"\\Sub B\\Deep");
    for (const std::wstring& name : names)
        createFile(installDir + L"\\" + name);
    // The setup toolkit's own files, whatever their case, are not offered.
    for (const wchar_t* name : {L"ST6UNST.LOG", L"st6unst.exe", L"St6UnSt001.tmp"})
        createFile(installDir + L"\\" + name);
    createFile(installDir + L"\\Sub B\\St6unst.000");
    createFile(installDir + L"\\sub a\\a.txt");
    createFile(installDir + L"\\Sub B\\b.txt");
    createFile(installDir + L"\\Sub B\\Deep\\d.txt");
    registerApp(app, installDir + L"\\zeta.txt");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    const std::vector<driver::Row> rows = driver::rows(driver::fileList(form));

    // The platform's order: a folder's own files, then each sub-folder's
    // tree in turn, never sorted by the program.
    std::vector<std::wstring> expected;
    for (const std::wstring& path : filesInListingOrder(installDir)) {
        std::wstring name = path.substr(path.find_last_of(L'\\') + 1).substr(0, 7);
        CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
        if (name != L"ST6UNST")
            expected.push_back(path);
    }
    EXPECT_EQ(narrowAll(texts(rows)), narrowAll(expected));

    std::vector<std::wstring> exactly;
    for (const std::wstring& name : names)
        exactly.push_back(installDir + L"\\" + name);
    for (const wchar_t* name : {L"sub a\\a.txt", L"Sub B\\b.txt", L"Sub B\\Deep\\d.txt"})
        exactly.push_back(installDir + L"\\" + name);
    std::vector<std::wstring> shown = texts(rows);
    std::sort(shown.begin(), shown.end());
    std::sort(exactly.begin(), exactly.end());
    EXPECT_EQ(narrowAll(shown), narrowAll(exactly));
    EXPECT_TRUE(std::none_of(rows.begin(), rows.end(), [](const auto& row) { return row.marked; }));
    EXPECT_EQ(driver::progressPosition(driver::progressBar(form)), 0);

    PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.exitStatus(), 1602);
    for (const std::wstring& path : exactly)
        EXPECT_TRUE(fileExists(path)) << narrow(path);
    EXPECT_TRUE(fileExists(installDir + L"\\ST6UNST.LOG"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\" + app));
}

// Where a control sits in the form's client area, in pixels.
RECT placement(HWND form, HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

TEST_F(StartUp, LaysTheWindowOutInTwipsAtTheScreenDpi) {
    createFolder(installDir);
    createFile(installDir + L"\\e2eapp.exe");
    registerApp(app, installDir + L"\\e2eapp.exe");

    Uninstaller run(app);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    const auto px = [dpi](int twips) { return MulDiv(twips, dpi, 1440); };
    const auto expect = [&](HWND control, int left, int top, int width, int height,
                            const char* name) {
        ASSERT_NE(control, nullptr) << name;
        const RECT at = placement(form, control);
        EXPECT_EQ(at.left, px(left)) << name;
        EXPECT_EQ(at.top, px(top)) << name;
        EXPECT_EQ(at.right - at.left, px(width)) << name;
        EXPECT_EQ(at.bottom - at.top, px(height)) << name;
    };
    RECT client{};
    GetClientRect(form, &client);
    EXPECT_EQ(client.right, px(8310));
    EXPECT_EQ(client.bottom, px(6435));
    expect(driver::fileList(form), 2520, 1560, 5025, 1635, "listfiles");
    expect(driver::uninstallButton(form), 4680, 3960, 1215, 495, "Command4");
    expect(FindWindowExW(form, nullptr, L"Button", L"SELECT FILES TO KEEP"), 2280, 1200, 5535, 2175,
           "Frame1");
    expect(driver::progressBar(form), 2400, 5160, 5655, 495, "ProgressBar1");
    expect(FindWindowExW(form, nullptr, L"Button", L""), 2040, 4920, 6255, 855, "Frame2");

    // Tab order is creation order: the list first, then the button.
    EXPECT_EQ(GetWindow(form, GW_CHILD), driver::fileList(form));
    EXPECT_EQ(GetWindow(driver::fileList(form), GW_HWNDNEXT), driver::uninstallButton(form));

    PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.exitStatus(), 1602);
}

TEST_F(StartUp, TakesTheArgumentTextAsTyped) {
    // Blanks after the program name go, tabs too; the inner ones are part
    // of the name. Every other scenario starts the program by its quoted
    // path, this one by its bare name.
    createFolder(installDir);
    createFile(installDir + L"\\spaced.txt");
    registerApp(L"e2e spaced app.exe", installDir + L"\\spaced.exe");

    Uninstaller run(L" \t  e2e spaced app.exe", true);
    HWND form = run.form();
    ASSERT_NE(form, nullptr) << narrow(run.takeErrorReport(0));
    EXPECT_EQ(driver::rowCount(driver::fileList(form)), 1);
    PostMessageW(form, WM_CLOSE, 0, 0);
    EXPECT_EQ(run.exitStatus(), 1602);
    EXPECT_TRUE(fileExists(installDir + L"\\spaced.txt"));
}

TEST_F(StartUp, WithoutArgumentReportsAndEnds) {
    const FailedStart start = startFailing(L"");
    EXPECT_NE(start.report.find(L"No application name"), std::wstring::npos)
        << narrow(start.report);
    EXPECT_FALSE(start.formShown);
    EXPECT_EQ(start.status, 1639);
}

TEST_F(StartUp, UnregisteredNameReportsItAndTouchesNothing) {
    createFolder(installDir);
    createFile(installDir + L"\\keep.txt");
    registerApp(L"e2eother.exe", installDir + L"\\e2eother.exe");

    const FailedStart start = startFailing(L"e2enothere.exe");
    EXPECT_NE(start.report.find(L"e2enothere.exe"), std::wstring::npos) << narrow(start.report);
    EXPECT_NE(start.report.find(L"App Paths"), std::wstring::npos) << narrow(start.report);
    EXPECT_FALSE(start.formShown);
    EXPECT_EQ(start.status, 1605);
    EXPECT_TRUE(fileExists(installDir + L"\\keep.txt"));
    EXPECT_TRUE(keyExists(appPathsKey + L"\\e2eother.exe"));
}

TEST_F(StartUp, RefusesAnApplicationRegisteredInADriveRoot) {
    registerApp(L"e2eroot.exe", L"C:\\x.exe");

    const FailedStart start = startFailing(L"e2eroot.exe");
    EXPECT_NE(start.report.find(L"drive C:"), std::wstring::npos) << narrow(start.report);
    EXPECT_FALSE(start.formShown);
    EXPECT_EQ(start.status, 1603);
    EXPECT_TRUE(keyExists(appPathsKey + L"\\e2eroot.exe"));
    EXPECT_TRUE(folderExists(L"C:\\windows"));
}

} // namespace
} // namespace e2e
