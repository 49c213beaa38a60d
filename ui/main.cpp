#include "engine/state.h"
#include "platform/system_library.h"
#include "platform/text_encoding.h"
#include "platform/win32_filesystem.h"
#include "platform/win32_registry.h"
#include "platform/win32_shell.h"
#include "ui/background_load.h"
#include "ui/error_report.h"
#include "ui/window.h"

#include <windows.h>

#include <string>
#include <string_view>

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t';
}

// The argument text as typed: the command line without the program's own
// name and the blanks after it, not split and not unquoted. The name ends
// where the C runtime ends it: at its closing quote, or at the first blank.
std::wstring_view argumentText(std::wstring_view line) {
    std::size_t at = 0;
    if (!line.empty() && line.front() == L'"') {
        const std::size_t close = line.find(L'"', 1);
        at = close == std::wstring_view::npos ? line.size() : close + 1;
    } else {
        while (at < line.size() && !isBlank(line[at]))
            ++at;
    }
    while (at < line.size() && isBlank(line[at]))
        ++at;
    return line.substr(at);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    using namespace uninst;
    // Before anything can load a DLL by name: none from the folder the
    // program was started from.
    restrictDllSearchToSystemFolder();
    std::string cmdline;
    if (!runHandler(nullptr, [&] { cmdline = text::fromWide(argumentText(GetCommandLineW())); }))
        return exitFailed;

    UninstallState state;
    Win32Registry registry;
    Win32FileSystem fs;
    Win32Shell shell;
    // Listing a large install takes most of start-up; it goes on while the
    // window is being built, which needs none of it until the rows arrive.
    BackgroundLoad load(state, registry, fs, shell, cmdline);
    uninstallfrm window(state, registry, fs, shell);
    if (!window.create(instance) || !window.Form_Load(load))
        return exitFailed;
    window.show(showCommand);
    return window.run();
}
