#include "bench/clock.h"
#include "platform/handles.h"

#include <windows.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

// The least any program must do to read from the registry what the
// inventory reports: the names in the App Paths and Uninstall lists, each App
// Paths entry's default value, and each Uninstall entry's AppToUninstall,
// DisplayName and DisplayVersion, through the 8-bit calls. The keys are
// listed one after another; their values are read on the threads asked for.
// Timed apart, the walk that the removal of a registered application makes
// of each entry naming it: its values in index order up to AppToUninstall,
// which only an enumeration tells apart from "apptouninstall".

namespace {

using uninst::KeyHandle;

constexpr const char* appPaths = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
constexpr const char* uninstall = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::vector<std::string> subKeys(const char* path) {
    std::vector<std::string> names;
    KeyHandle list;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, list.put()) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(std::string(path) + "\\" + std::string(name, length));
    }
    return names;
}

struct Reads {
    const std::vector<std::string>& keys;
    std::vector<const char*> values;
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> found{0};
    // Each key's first value's text, when `keep` asks for it.
    bool keep = false;
    std::vector<std::string> firstTexts = std::vector<std::string>(keys.size());
};

DWORD WINAPI readValues(void* parameter) {
    auto& reads = *static_cast<Reads*>(parameter);
    for (;;) {
        const std::size_t i = reads.next.fetch_add(1);
        if (i >= reads.keys.size())
            return 0;
        KeyHandle key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, reads.keys[i].c_str(), 0, KEY_QUERY_VALUE,
                          key.put()) != ERROR_SUCCESS)
            continue;
        for (const char* value : reads.values) {
            char data[1024];
            DWORD size = sizeof data;
            if (RegQueryValueExA(key.get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(data),
                                 &size) == ERROR_SUCCESS) {
                reads.found.fetch_add(1);
                if (reads.keep && value == reads.values.front())
                    reads.firstTexts[i].assign(data, strnlen(data, size));
            }
        }
    }
}

// Walks one key's values in index order until AppToUninstall, as the 8-bit
// enumeration hands them over.
DWORD WINAPI walkValues(void* parameter) {
    auto& walks = *static_cast<Reads*>(parameter);
    for (;;) {
        const std::size_t i = walks.next.fetch_add(1);
        if (i >= walks.keys.size())
            return 0;
        KeyHandle key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, walks.keys[i].c_str(), 0, KEY_QUERY_VALUE,
                          key.put()) != ERROR_SUCCESS)
            continue;
        for (DWORD index = 0;; ++index) {
            char name[256];
            DWORD nameLength = sizeof name;
            char data[1024];
            DWORD size = sizeof data;
            if (RegEnumValueA(key.get(), index, name, &nameLength, nullptr, nullptr,
                              reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
                break;
            if (std::strcmp(name, "AppToUninstall") == 0) {
                walks.found.fetch_add(1);
                break;
            }
        }
    }
}

std::size_t onThreads(Reads& reads, LPTHREAD_START_ROUTINE work, unsigned threads) {
    std::vector<HANDLE> started;
    for (unsigned k = 1; k < threads; ++k) {
        if (HANDLE thread = CreateThread(nullptr, 0, work, &reads, 0, nullptr))
            started.push_back(thread);
    }
    work(&reads);
    for (HANDLE thread : started) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    return reads.found.load();
}

std::size_t readAll(const std::vector<std::string>& keys, std::vector<const char*> values,
                    unsigned threads) {
    Reads reads{keys, std::move(values)};
    return onThreads(reads, &readValues, threads);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const unsigned threads =
        argc > 1 ? static_cast<unsigned>(std::wcstoul(argv[1], nullptr, 10)) : 1;
    if (threads == 0) {
        std::fputs("usage: bench_registry [THREADS]\n", stderr);
        return 2;
    }
    const double start = bench::now();
    const std::vector<std::string> entries = subKeys(appPaths);
    const std::vector<std::string> programs = subKeys(uninstall);
    Reads uninstallReads{programs, {"AppToUninstall", "DisplayName", "DisplayVersion"}};
    uninstallReads.keep = true;
    const std::size_t found =
        readAll(entries, {nullptr}, threads) + onThreads(uninstallReads, &readValues, threads);
    const double elapsed = bench::now() - start;

    std::set<std::string> registered;
    for (const std::string& entry : entries)
        registered.insert(lowered(entry.substr(entry.rfind('\\') + 1)));
    std::vector<std::string> naming;
    for (std::size_t i = 0; i < programs.size(); ++i) {
        if (registered.count(lowered(uninstallReads.firstTexts[i])) != 0)
            naming.push_back(programs[i]);
    }
    const double walkStart = bench::now();
    Reads walks{naming, {}};
    const std::size_t walked = onThreads(walks, &walkValues, threads);
    const double walking = bench::now() - walkStart;
    std::printf("registry_s=%.4f\nregistry_keys=%zu\nregistry_values=%zu\nwalks_s=%.4f\n"
                "walks=%zu\n",
                elapsed, entries.size() + programs.size(), found, walking, walked);
    return 0;
}
