#include "bench/clock.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// The least any program must do to remove a tree: one find handle per folder,
// one DeleteFileW per file and one RemoveDirectoryW per folder, children
// first.
namespace {

using FindHandle = uninst::UniqueHandle<HANDLE, &FindClose, -1>;

bool isDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

struct Counts {
    std::size_t files = 0;
    std::size_t folders = 0;
};

bool removeTree(std::wstring& folder, Counts& counts) {
    const std::size_t length = folder.size();
    folder += L"\\*";
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(folder.c_str(), &data));
    folder.resize(length);
    if (!find)
        return false;
    std::vector<std::wstring> subFolders;
    std::wstring path;
    do {
        if (isDots(data.cFileName))
            continue;
        path.assign(folder).append(L"\\").append(data.cFileName);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            subFolders.push_back(path);
        } else {
            if (!DeleteFileW(path.c_str())) {
                std::fprintf(stderr, "DeleteFileW failed (%lu): %ls\n", GetLastError(),
                             path.c_str());
                return false;
            }
            ++counts.files;
        }
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    for (std::wstring& sub : subFolders) {
        if (!removeTree(sub, counts))
            return false;
    }
    if (!RemoveDirectoryW(folder.c_str())) {
        std::fprintf(stderr, "RemoveDirectoryW failed (%lu): %ls\n", GetLastError(),
                     folder.c_str());
        return false;
    }
    ++counts.folders;
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: bench_remove FOLDER\n", stderr);
        return 2;
    }
    const double start = bench::now();
    std::wstring root = argv[1];
    Counts counts;
    const bool ok = removeTree(root, counts);
    const double elapsed = bench::now() - start;
    std::printf("remove_s=%.4f\nremove_files=%zu\nremove_folders=%zu\n", elapsed, counts.files,
                counts.folders);
    return ok ? 0 : 1;
}
