#include "bench/clock.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

// The least any program must do to show every file of a tree: one find handle
// per folder and the full path of each file kept in memory.
namespace {

using FindHandle = uninst::UniqueHandle<HANDLE, &FindClose, -1>;

bool isDots(const wchar_t* name) {
    return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

bool walk(std::wstring& folder, std::vector<std::wstring>& files, std::size_t& folders) {
    const std::size_t length = folder.size();
    folder += L"\\*";
    WIN32_FIND_DATAW data;
    FindHandle find(FindFirstFileW(folder.c_str(), &data));
    folder.resize(length);
    if (!find)
        return false;
    ++folders;
    std::vector<std::wstring> subFolders;
    do {
        if (isDots(data.cFileName))
            continue;
        std::wstring path = folder + L"\\" + data.cFileName;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            subFolders.push_back(std::move(path));
        else
            files.push_back(std::move(path));
    } while (FindNextFileW(find.get(), &data));
    find.reset();
    for (std::wstring& sub : subFolders) {
        if (!walk(sub, files, folders))
            return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("usage: bench_list FOLDER\n", stderr);
        return 2;
    }
    const double start = bench::now();
    std::wstring root = argv[1];
    std::vector<std::wstring> files;
    std::size_t folders = 0;
    const bool ok = walk(root, files, folders);
    const double elapsed = bench::now() - start;
    std::printf("list_s=%.4f\nlist_files=%zu\nlist_folders=%zu\n", elapsed, files.size(), folders);
    return ok ? 0 : 1;
}
