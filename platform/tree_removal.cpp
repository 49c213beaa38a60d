#include "platform/tree_removal.h"

#include "platform/path_forms.h"
#include "platform/system_error_text.h"

namespace uninst::win32 {

void removeTree(RemovalRoots& roots, Opened top, std::wstring& path,
                std::vector<LONGLONG>& directoryBuffer) {
    struct Frame {
        Opened folder;
        std::size_t length = 0;
        std::vector<std::wstring> subFolders;
        std::size_t next = 0;
        bool kept = false;
    };
    std::vector<Frame> stack;

    // Files go as soon as their folder has been read whole, so that deleting
    // cannot disturb the enumeration; sub-folders are entered after.
    const auto enter = [&](Opened folder) {
        Frame frame;
        frame.folder = std::move(folder);
        frame.length = path.size();
        std::vector<std::wstring> files;
        // Read through the handle already held: Wine's FindFirstFileW opens
        // the folder again without leave to delete, which that handle's
        // delete access refuses.
        if (directoryBuffer.empty())
            directoryBuffer.resize(64 * 1024 / sizeof(LONGLONG));
        const auto size = static_cast<DWORD>(directoryBuffer.size() * sizeof(LONGLONG));
        for (auto kind = FileIdBothDirectoryRestartInfo;; kind = FileIdBothDirectoryInfo) {
            if (!GetFileInformationByHandleEx(frame.folder.handle.get(), kind,
                                              directoryBuffer.data(), size)) {
                const DWORD code = GetLastError();
                if (code == ERROR_NO_MORE_FILES || code == ERROR_FILE_NOT_FOUND)
                    break;
                fail("delete folder", userPath(path), code);
            }
            const auto* bytes = reinterpret_cast<const unsigned char*>(directoryBuffer.data());
            for (;;) {
                const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
                const std::wstring_view name(entry->FileName,
                                             entry->FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") {
                    if (holdsSeparator(name))
                        frame.kept = true;
                    else if (!isFolder(entry->FileAttributes))
                        files.emplace_back(name);
                    else if (isLink(entry->FileAttributes))
                        frame.kept = true;
                    else
                        frame.subFolders.emplace_back(name);
                }
                if (entry->NextEntryOffset == 0)
                    break;
                bytes += entry->NextEntryOffset;
            }
        }
        for (const std::wstring& name : files) {
            path += L'\\';
            path += name;
            const Opened file = roots.openChecked(path, false);
            if (file.link) {
                frame.kept = true;
            } else if (!file.missing) {
                if (!file.handle || !markForDeletion(file.handle.get())) {
                    const DWORD code = file.handle ? GetLastError() : file.error;
                    if (!isNotFound(code))
                        fail("delete file", userPath(path), code);
                }
            }
            path.resize(frame.length);
        }
        stack.push_back(std::move(frame));
    };

    enter(std::move(top));
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.subFolders.size()) {
            path += L'\\';
            path += frame.subFolders[frame.next++];
            Opened sub = roots.openChecked(path, true);
            if (sub.link) {
                frame.kept = true;
            } else if (sub.handle) {
                enter(std::move(sub));
                continue;
            } else if (!sub.missing) {
                fail("delete folder", userPath(path), sub.error);
            }
            path.resize(stack.back().length);
            continue;
        }

        if (!frame.kept) {
            if (frame.folder.deleteRefused != 0)
                fail("delete folder", userPath(path), frame.folder.deleteRefused);
            if (!markForDeletion(frame.folder.handle.get())) {
                const DWORD code = GetLastError();
                if (!isNotFound(code))
                    fail("delete folder", userPath(path), code);
            }
        }
        // Closing the handle is what removes a folder marked for deletion.
        const bool kept = frame.kept;
        stack.pop_back();
        if (!stack.empty()) {
            path.resize(stack.back().length);
            if (kept)
                stack.back().kept = true;
        }
    }
}

} // namespace uninst::win32
