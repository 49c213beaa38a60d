#include "bench/bare_tree.h"
#include "bench/clock.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cwchar>
#include <functional>
#include <string>
#include <vector>

// The least a removal must do that checks every item before it goes: each
// one opened without following a link and without sharing deletion, the name
// the system gives the handle compared with the name listed, the item marked
// for deletion through that handle and closed. Four threads share the work,
// as the uninstaller's own do.
//
//   bench_checked FOLDER single|twophase
//
// single:   one pass over the files, each opened, named, marked and closed.
// twophase: every file opened first (the first 2,048 held open, the rest
//           closed at once and opened again later), then each named, marked
//           and closed: what a run pays when it checks everything before the
//           first deletion.
// Folders go after their files, deepest first, through the same sequence.
namespace {

using Handle = uninst::UniqueHandle<HANDLE, &CloseHandle, -1>;

constexpr unsigned threadCount = 4;
constexpr std::size_t heldAtMost = 2048;

struct Tree {
    std::vector<std::wstring> files;
    // Folders by depth, the install folder alone at depth 0.
    std::vector<std::vector<std::wstring>> folders;
};

struct SharedWork {
    const std::function<bool(std::size_t)>& work;
    std::size_t count;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
};

DWORD WINAPI workLoop(void* parameter) {
    auto& shared = *static_cast<SharedWork*>(parameter);
    while (!shared.failed.load()) {
        const std::size_t i = shared.next.fetch_add(1);
        if (i >= shared.count)
            break;
        if (!shared.work(i))
            shared.failed.store(true);
    }
    return 0;
}

// Runs work(i) for every i below count on threadCount threads; false once any
// call answered false.
bool inParallel(std::size_t count, const std::function<bool(std::size_t)>& work) {
    SharedWork shared{work, count};
    std::vector<HANDLE> threads;
    threads.reserve(threadCount);
    for (unsigned k = 1; k < threadCount; ++k) {
        if (HANDLE thread = CreateThread(nullptr, 256 * 1024, &workLoop, &shared,
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr))
            threads.push_back(thread);
    }
    workLoop(&shared);
    for (HANDLE thread : threads) {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    return !shared.failed.load();
}

Handle openChecked(const std::wstring& path, bool folder) {
    return Handle(CreateFileW(
        path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | (folder ? FILE_FLAG_BACKUP_SEMANTICS : 0), nullptr));
}

// The handle's name from the object manager, as the uninstaller asks it,
// compared without case with the tail of the listed path (the system's name
// starts with its own device prefix).
bool namedAsListed(HANDLE handle, const std::wstring& path) {
    using QueryObject = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<QueryObject>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryObject")));
    struct Name {
        USHORT length;
        USHORT maximumLength;
        PWSTR text;
    };
    LONGLONG buffer[1024];
    ULONG needed = 0;
    if (query == nullptr || query(handle, 1, buffer, sizeof buffer, &needed) < 0)
        return false;
    const auto* name = reinterpret_cast<const Name*>(buffer);
    const std::size_t length = name->length / sizeof(wchar_t);
    const std::size_t tail = path.size() - 2; // without the drive letter and colon
    return length >= tail &&
           CompareStringOrdinal(name->text + (length - tail), static_cast<int>(tail),
                                path.c_str() + 2, static_cast<int>(tail), TRUE) == CSTR_EQUAL;
}

bool markAndClose(Handle handle, const std::wstring& path) {
    if (!handle) {
        std::fprintf(stderr, "CreateFileW failed (%lu): %ls\n", GetLastError(), path.c_str());
        return false;
    }
    if (!namedAsListed(handle.get(), path)) {
        std::fprintf(stderr, "name differs: %ls\n", path.c_str());
        return false;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition,
                                    sizeof disposition)) {
        std::fprintf(stderr, "marking failed (%lu): %ls\n", GetLastError(), path.c_str());
        return false;
    }
    return true;
}

bool removeFolders(const Tree& tree) {
    for (auto level = tree.folders.rbegin(); level != tree.folders.rend(); ++level) {
        if (!inParallel(level->size(), [&](std::size_t i) {
                return markAndClose(openChecked((*level)[i], true), (*level)[i]);
            }))
            return false;
    }
    return true;
}

bool single(const Tree& tree) {
    return inParallel(tree.files.size(), [&](std::size_t i) {
        return markAndClose(openChecked(tree.files[i], false), tree.files[i]);
    });
}

bool twoPhase(const Tree& tree) {
    std::vector<Handle> held(std::min(tree.files.size(), heldAtMost));
    const bool opened = inParallel(tree.files.size(), [&](std::size_t i) {
        Handle handle = openChecked(tree.files[i], false);
        if (!handle)
            return false;
        if (i < held.size())
            held[i] = std::move(handle);
        return true;
    });
    return opened && inParallel(tree.files.size(), [&](std::size_t i) {
               Handle handle =
                   i < held.size() ? std::move(held[i]) : openChecked(tree.files[i], false);
               return markAndClose(std::move(handle), tree.files[i]);
           });
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 ||
        (std::wcscmp(argv[2], L"single") != 0 && std::wcscmp(argv[2], L"twophase") != 0)) {
        std::fputs("usage: bench_checked FOLDER single|twophase\n", stderr);
        return 2;
    }
    std::wstring root = argv[1];
    const bool both = std::wcscmp(argv[2], L"twophase") == 0;
    const double start = bench::now();
    Tree tree;
    auto byDepth = [&](const std::wstring& folder, std::size_t depth) {
        if (tree.folders.size() <= depth)
            tree.folders.resize(depth + 1);
        tree.folders[depth].push_back(folder);
    };
    const bool ok = bench::listTree(root, tree.files, byDepth) &&
                    (both ? twoPhase(tree) : single(tree)) && removeFolders(tree);
    const double elapsed = bench::now() - start;
    std::size_t folders = 0;
    for (const auto& level : tree.folders)
        folders += level.size();
    std::printf("checked_s=%.4f\nchecked_files=%zu\nchecked_folders=%zu\n", elapsed,
                tree.files.size(), folders);
    return ok ? 0 : 1;
}
