#include "bench/clock.h"
#include "platform/handles.h"

#include <windows.h>

#include <psapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

// Times programs from the inside of Wine, so that no figure carries the cost
// of starting Wine itself:
//
//   bench_timer run PROGRAM [ARGUMENTS...]
//       starts the program, waits for it to end, prints run_s
//   bench_timer ui EXE ARGUMENT ROWS MARKS close|uninstall [HOLD-FOLDER]
//       starts the uninstaller, prints startup_s once its list shows ROWS
//       rows and the memory it took; with HOLD-FOLDER it then writes
//       HOLD-FOLDER\ready and waits for HOLD-FOLDER\go, so that the caller can
//       look at the process from outside. Then it either closes the window,
//       or marks MARKS rows spread over the list, posts a click on
//       "&Uninstall" and prints uninstall_s when the process has ended.
namespace {

using Handle = uninst::KernelHandle;

constexpr wchar_t caption[] = L"Uinstall Form";
constexpr wchar_t buttonText[] = L"&Uninstall";
constexpr DWORD patience = 600 * 1000;
constexpr double startPatience = 180.0;

struct Child {
    Handle process;
    Handle thread;
    DWORD id = 0;
};

// With `shareOutput` the child writes to this program's standard output and
// error, where the benchmark script reads the figures it prints.
bool start(std::wstring commandLine, Child& child, bool shareOutput = false) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (shareOutput) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, shareOutput, 0, nullptr,
                        nullptr, &startup, &info)) {
        std::fprintf(stderr, "bench_timer: cannot start %ls (error %lu)\n", commandLine.c_str(),
                     GetLastError());
        return false;
    }
    child.process.reset(info.hProcess);
    child.thread.reset(info.hThread);
    child.id = info.dwProcessId;
    return true;
}

std::wstring classOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

std::wstring textOf(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

struct Windows {
    DWORD processId = 0;
    HWND main = nullptr;
    HWND dialog = nullptr;
};

BOOL CALLBACK findTopLevel(HWND window, LPARAM context) {
    auto& found = *reinterpret_cast<Windows*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != found.processId)
        return TRUE;
    // The error report may carry the window's caption too; it is told
    // apart by its dialog class.
    if (classOf(window) == L"#32770") {
        if (IsWindowVisible(window))
            found.dialog = window;
    } else if (textOf(window) == caption) {
        found.main = window;
    }
    return TRUE;
}

Windows topLevelOf(DWORD processId) {
    Windows found;
    found.processId = processId;
    EnumWindows(&findTopLevel, reinterpret_cast<LPARAM>(&found));
    return found;
}

struct Controls {
    HWND list = nullptr;
    HWND button = nullptr;
};

BOOL CALLBACK findControls(HWND window, LPARAM context) {
    auto& found = *reinterpret_cast<Controls*>(context);
    const std::wstring name = classOf(window);
    if (_wcsicmp(name.c_str(), L"ListBox") == 0)
        found.list = window;
    else if (_wcsicmp(name.c_str(), L"Button") == 0 && textOf(window) == buttonText)
        found.button = window;
    return TRUE;
}

BOOL CALLBACK collectText(HWND window, LPARAM context) {
    auto& text = *reinterpret_cast<std::wstring*>(context);
    const std::wstring part = textOf(window);
    if (!part.empty())
        text.append(L" | ").append(part);
    return TRUE;
}

// The program reports failures in a dialog and then waits for the user; a
// benchmark run has no user, so the report is printed and the run ends.
bool reportDialog(const Child& child) {
    const Windows windows = topLevelOf(child.id);
    if (windows.dialog == nullptr)
        return false;
    std::wstring text = textOf(windows.dialog);
    EnumChildWindows(windows.dialog, &collectText, reinterpret_cast<LPARAM>(&text));
    std::fprintf(stderr, "bench_timer: the program reported an error: %ls\n", text.c_str());
    TerminateProcess(child.process.get(), 3);
    return true;
}

bool exited(const Child& child) {
    if (WaitForSingleObject(child.process.get(), 0) != WAIT_OBJECT_0)
        return false;
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    std::fprintf(stderr, "bench_timer: the program ended early with status %lu\n", code);
    return true;
}

int run(const std::wstring& commandLine) {
    const double begin = bench::now();
    Child child;
    std::fflush(stdout);
    if (!start(commandLine, child, true))
        return 1;
    WaitForSingleObject(child.process.get(), INFINITE);
    const double elapsed = bench::now() - begin;
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    std::printf("run_s=%.4f\nrun_status=%lu\n", elapsed, code);
    return 0;
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool hold(const std::wstring& folder, DWORD processId) {
    const std::wstring ready = folder + L"\\ready";
    uninst::FileHandle file(CreateFileW(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        std::fprintf(stderr, "bench_timer: cannot write %ls\n", ready.c_str());
        return false;
    }
    char text[32];
    const int length = std::snprintf(text, sizeof text, "%lu\n", processId);
    DWORD written = 0;
    WriteFile(file.get(), text, static_cast<DWORD>(length), &written, nullptr);
    file.reset();
    const std::wstring go = folder + L"\\go";
    for (DWORD waited = 0; waited < 60 * 1000; waited += 10) {
        if (fileExists(go))
            return true;
        Sleep(10);
    }
    std::fprintf(stderr, "bench_timer: nobody answered at %ls\n", go.c_str());
    return false;
}

int ui(const std::wstring& exe, const std::wstring& argument, long rows, long marks, bool uninstall,
       const std::wstring& holdFolder) {
    const double begin = bench::now();
    Child child;
    if (!start(L"\"" + exe + L"\" " + argument, child))
        return 1;

    // The list answers only once start-up has handed control back to the
    // message loop, so a count that arrives is normally the full one. Until
    // the program first waits for input it is still starting: blocking in
    // WaitForInputIdle then, rather than looking at its windows every
    // millisecond, keeps the timer from competing with it for the
    // wineserver.
    HWND main = nullptr;
    Controls controls;
    LRESULT count = 0;
    for (;;) {
        const DWORD idle = WaitForInputIdle(child.process.get(), 100);
        if (exited(child) || reportDialog(child))
            return 1;
        if (main == nullptr)
            main = topLevelOf(child.id).main;
        if (main != nullptr && controls.list == nullptr)
            EnumChildWindows(main, &findControls, reinterpret_cast<LPARAM>(&controls));
        if (controls.list != nullptr) {
            DWORD_PTR answer = 0;
            if (SendMessageTimeoutW(controls.list, LB_GETCOUNT, 0, 0, SMTO_NORMAL, 1000, &answer))
                count = static_cast<LRESULT>(answer);
            if (count >= rows)
                break;
        }
        if (bench::now() - begin > startPatience) {
            std::fprintf(stderr, "bench_timer: the list shows %ld of %ld rows\n",
                         static_cast<long>(count), rows);
            TerminateProcess(child.process.get(), 3);
            return 1;
        }
        if (idle != WAIT_TIMEOUT)
            Sleep(1);
    }
    const double shown = bench::now();
    // The controls are all there by now; the first look may have come while
    // the window was still creating them.
    controls = Controls{};
    EnumChildWindows(main, &findControls, reinterpret_cast<LPARAM>(&controls));
    std::printf("startup_s=%.4f\nrows=%ld\n", shown - begin, static_cast<long>(count));

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    if (GetProcessMemoryInfo(child.process.get(), &memory, sizeof memory))
        std::printf("peak_working_set=%lu\nworking_set=%lu\n",
                    static_cast<unsigned long>(memory.PeakWorkingSetSize),
                    static_cast<unsigned long>(memory.WorkingSetSize));
    std::printf("pid=%lu\n", child.id);
    std::fflush(stdout);

    if (!holdFolder.empty() && !hold(holdFolder, child.id)) {
        TerminateProcess(child.process.get(), 3);
        return 1;
    }

    if (!uninstall) {
        PostMessageW(main, WM_CLOSE, 0, 0);
        WaitForSingleObject(child.process.get(), patience);
        return 0;
    }

    if (controls.button == nullptr) {
        std::fputs("bench_timer: no \"&Uninstall\" button\n", stderr);
        TerminateProcess(child.process.get(), 3);
        return 1;
    }
    for (long i = 0; i < marks; ++i) {
        const LPARAM row = static_cast<LPARAM>(i * count / marks + count / (2 * marks));
        SendMessageW(controls.list, LB_SETSEL, TRUE, row);
    }

    const double clicked = bench::now();
    PostMessageW(controls.button, BM_CLICK, 0, 0);
    while (WaitForSingleObject(child.process.get(), 100) == WAIT_TIMEOUT) {
        if (reportDialog(child))
            return 1;
        if (bench::now() - clicked > patience / 1000.0) {
            std::fputs("bench_timer: the uninstall did not end\n", stderr);
            TerminateProcess(child.process.get(), 3);
            return 1;
        }
    }
    const double ended = bench::now();
    DWORD code = 0;
    GetExitCodeProcess(child.process.get(), &code);
    std::printf("uninstall_s=%.4f\nexit_status=%lu\n", ended - clicked, code);
    return code == 0 ? 0 : 1;
}

// Each argument after the mode word becomes one argument of the child's
// command line, quoted when it holds a blank.
std::wstring commandLineOf(int argc, wchar_t** argv) {
    std::wstring line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            line += L' ';
        const bool quote = std::wcspbrk(argv[i], L" \t") != nullptr;
        if (quote)
            line += L'"';
        line += argv[i];
        if (quote)
            line += L'"';
    }
    return line;
}

int usage() {
    std::fputs("usage: bench_timer run PROGRAM [ARGUMENTS...]\n"
               "       bench_timer ui EXE ARGUMENT ROWS MARKS close|uninstall [HOLD-FOLDER]\n",
               stderr);
    return 2;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wcscmp(argv[1], L"run") == 0) {
        return run(commandLineOf(argc - 2, argv + 2));
    }
    if ((argc == 7 || argc == 8) && std::wcscmp(argv[1], L"ui") == 0) {
        const bool uninstall = std::wcscmp(argv[6], L"uninstall") == 0;
        if (!uninstall && std::wcscmp(argv[6], L"close") != 0)
            return usage();
        return ui(argv[2], argv[3], std::wcstol(argv[4], nullptr, 10),
                  std::wcstol(argv[5], nullptr, 10), uninstall, argc == 8 ? argv[7] : L"");
    }
    return usage();
}
