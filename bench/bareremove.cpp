#include "bench/bare_tree.h"
#include "bench/clock.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// The least any program must do to remove a tree: one find handle per folder,
// one DeleteFileW per file and one RemoveDirectoryW per folder, children
// first.
namespace {

struct Counts {
    std::size_t files = 0;
    std::size_t folders = 0;
};

bool removeTree(std::wstring& folder, Counts& counts) {
    std::vector<std::wstring> subFolders;
    std::wstring path;
    const bool emptied = bench::forEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        path.assign(folder).append(L"\\").append(data.cFileName);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            subFolders.push_back(path);
            return true;
        }
        if (!DeleteFileW(path.c_str())) {
            std::fprintf(stderr, "DeleteFileW failed (%lu): %ls\n", GetLastError(), path.c_str());
            return false;
        }
        ++counts.files;
        return true;
    });
    if (!emptied)
        return false;
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
    std::wstring root;
    if (!bench::folderArgument(argc, argv, "usage: bench_remove FOLDER\n", root))
        return 2;
    const double start = bench::now();
    Counts counts;
    const bool ok = removeTree(root, counts);
    const double elapsed = bench::now() - start;
    std::printf("remove_s=%.4f\nremove_files=%zu\nremove_folders=%zu\n", elapsed, counts.files,
                counts.folders);
    return ok ? 0 : 1;
}
