#include "bench/bare_tree.h"
#include "bench/clock.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// The least any program must do to show every file of a tree: one find handle
// per folder and the full path of each file kept in memory.
namespace {

bool walk(std::wstring& folder, std::vector<std::wstring>& files, std::size_t& folders) {
    std::vector<std::wstring> subFolders;
    const bool listed = bench::forEachEntry(folder, [&](const WIN32_FIND_DATAW& data) {
        std::wstring path = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            subFolders.push_back(std::move(path));
        else
            files.push_back(std::move(path));
        return true;
    });
    if (!listed)
        return false;
    ++folders;
    for (std::wstring& sub : subFolders) {
        if (!walk(sub, files, folders))
            return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring root;
    if (!bench::folderArgument(argc, argv, "usage: bench_list FOLDER\n", root))
        return 2;
    const double start = bench::now();
    std::vector<std::wstring> files;
    std::size_t folders = 0;
    const bool ok = walk(root, files, folders);
    const double elapsed = bench::now() - start;
    std::printf("list_s=%.4f\nlist_files=%zu\nlist_folders=%zu\n", elapsed, files.size(), folders);
    return ok ? 0 : 1;
}
