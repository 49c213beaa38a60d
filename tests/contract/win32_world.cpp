#include "platform/text_encoding.h"
#include "platform/win32_filesystem.h"
#include "platform/win32_registry.h"
#include "tests/contract/world.h"
#include "tests/support/win32_handles.h"

#include <windows.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>

namespace uninst::test {

namespace {

// Fixture failures are the test's own: they say what could not be built.
[[noreturn]] void fixtureFailed(const std::string& what, const std::string& path, DWORD code) {
    throw std::runtime_error("fixture: cannot " + what + " " + path + " (error " +
                             std::to_string(code) + ")");
}

std::wstring longPath(const std::string& path) {
    return L"\\\\?\\" + text::toWide(path);
}

DWORD attributesOf(const std::string& path) {
    return GetFileAttributesW(longPath(path).c_str());
}

// Under Wine a program can start host programs, and a host symbolic link to a
// folder inside the drive is what Wine shows as a directory link (Wine 8
// cannot create one itself: CreateSymbolicLinkW reports success and does
// nothing). On Windows the system call does the job.
class HostSide {
public:
    HostSide() {
        HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
        if (kernel != nullptr)
            unixName_ = reinterpret_cast<UnixName>(
                reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_unix_file_name")));
    }

    bool isWine() const { return unixName_ != nullptr; }

    std::string unixPath(const std::string& path) const {
        char* name = unixName_(longPath(path).c_str());
        if (name == nullptr)
            fixtureFailed("find the host path of", path, GetLastError());
        std::string result(name);
        HeapFree(GetProcessHeap(), 0, name);
        return result;
    }

    // Starts a host program and waits until `done` holds. Wine hands back no
    // handles for a host program, so its effect is what is waited for; what
    // it leaves in the structure is stale stack, often the value of one of
    // this process's own handles, and is never closed.
    template <typename Done> void run(const std::string& commandLine, Done done) const {
        std::wstring line = text::toWide(commandLine);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &startup, &process))
            fixtureFailed("run", commandLine, GetLastError());
        for (int waited = 0; !done() && waited < 10000; waited += 10)
            Sleep(10);
    }

private:
    using UnixName = char*(CDECL*)(const wchar_t*);
    UnixName unixName_ = nullptr;
};

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The file system a run uses, or with UNINST_CONTRACT_CHANGES_NOTHING set
// the one an inventory or a preview uses, whose listings work otherwise.
std::unique_ptr<Win32FileSystem> makeFileSystem() {
    if (GetEnvironmentVariableW(L"UNINST_CONTRACT_CHANGES_NOTHING", nullptr, 0) != 0)
        return std::make_unique<Win32FileSystem>(Win32FileSystem::ChangesNothing{});
    return std::make_unique<Win32FileSystem>();
}

class Win32World : public ContractWorld {
public:
    Win32World() : fs_(makeFileSystem()) {
        static std::atomic<int> counter{0};
        const std::string id =
            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
        keyRoot_ = "Software\\UninstContractTest" + id;
        folderRoot_ = "C:\\contract-" + id;
        createKey(keyRoot_);
        createFolder(folderRoot_);
    }

    ~Win32World() override {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, text::toWide(keyRoot_).c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, text::toWide(keyRoot_).c_str());
        try {
            removeFixtureFolder();
        } catch (const std::exception&) {
            // A leftover folder under C:\ is harmless to the next run: every
            // world's name is its own.
        }
    }

    Registry& registry() override { return registry_; }
    FileSystem& fs() override { return *fs_; }
    std::string keyRoot() override { return keyRoot_; }
    std::string folderRoot() override { return folderRoot_; }

    void createKey(const std::string& path) override { openOrCreate(path); }

    void setValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                  const std::string& data) override {
        KeyHandle key = openOrCreate(keyPath);
        const bool isText = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
        const std::string stored = isText ? text::toAnsi(data) : data;
        const LONG status = RegSetValueExA(key.get(), text::toAnsi(name).c_str(), 0, type,
                                           reinterpret_cast<const BYTE*>(stored.data()),
                                           static_cast<DWORD>(stored.size()));
        if (status != ERROR_SUCCESS)
            fixtureFailed("set value " + name + " of", keyPath, static_cast<DWORD>(status));
    }

    bool keyExists(const std::string& path) override {
        KeyHandle key;
        return RegOpenKeyExW(HKEY_LOCAL_MACHINE, text::toWide(path).c_str(), 0, KEY_READ,
                             key.put()) == ERROR_SUCCESS;
    }

    void createFolder(const std::string& path) override {
        // Every level from the drive down, so that fixtures may name deep
        // folders directly.
        for (std::size_t end = path.find('\\', 3);; end = path.find('\\', end + 1)) {
            const std::string level = path.substr(0, end);
            if (!CreateDirectoryW(longPath(level).c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS)
                fixtureFailed("create folder", level, GetLastError());
            if (end == std::string::npos)
                break;
        }
    }

    void createFile(const std::string& path, const std::string& content) override {
        createFileOfBytes(path, text::toAnsi(content));
    }

    void createFileOfBytes(const std::string& path, const std::string& bytes) override {
        createParent(path);
        FileHandle file(CreateFileW(longPath(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            fixtureFailed("create file", path, GetLastError());
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                       nullptr) ||
            written != bytes.size())
            fixtureFailed("write file", path, GetLastError());
    }

    void makeReadOnly(const std::string& path) override {
        if (!SetFileAttributesW(longPath(path).c_str(), FILE_ATTRIBUTE_READONLY))
            fixtureFailed("make read-only", path, GetLastError());
    }

    void createFolderLink(const std::string& link, const std::string& target) override {
        if (!makeLink(link, target, SYMBOLIC_LINK_FLAG_DIRECTORY))
            fixtureFailed("create link", link, GetLastError());
        const DWORD attributes = attributesOf(link);
        if (attributes == INVALID_FILE_ATTRIBUTES ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            fixtureFailed("create a directory link at", link, ERROR_TIMEOUT);
    }

    bool createFileLink(const std::string& link, const std::string& target) override {
        return makeLink(link, target, 0) && attributesOf(link) != INVALID_FILE_ATTRIBUTES;
    }

    bool fileExists(const std::string& path) override {
        const DWORD attributes = attributesOf(path);
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    bool folderExists(const std::string& path) override {
        const DWORD attributes = attributesOf(path);
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

private:
    KeyHandle openOrCreate(const std::string& path) {
        KeyHandle key;
        const LONG status =
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, text::toWide(path).c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
        if (status != ERROR_SUCCESS)
            fixtureFailed("create key", path, static_cast<DWORD>(status));
        return key;
    }

    void createParent(const std::string& path) {
        const std::size_t last = path.rfind('\\');
        if (last != std::string::npos && last > 2)
            createFolder(path.substr(0, last));
    }

    // Through the host under Wine, whose own call makes no link the Unix side
    // sees as one. False when the system's call refused.
    bool makeLink(const std::string& link, const std::string& target, DWORD flags) {
        createParent(link);
        if (host_.isWine()) {
            host_.run("/bin/ln -s " + quoted(host_.unixPath(target)) + " " +
                          quoted(host_.unixPath(link)),
                      [&] { return attributesOf(link) != INVALID_FILE_ATTRIBUTES; });
            return true;
        }
        return CreateSymbolicLinkW(longPath(link).c_str(), longPath(target).c_str(),
                                   flags | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) != FALSE;
    }

    // The host's own removal where there is one: it neither follows links nor
    // minds read-only files, which is exactly what the layer under test must
    // not be relied on for.
    void removeFixtureFolder() {
        if (host_.isWine()) {
            host_.run("/bin/rm -rf " + quoted(host_.unixPath(folderRoot_)),
                      [&] { return attributesOf(folderRoot_) == INVALID_FILE_ATTRIBUTES; });
            return;
        }
        removeTree(longPath(folderRoot_));
    }

    // Windows removes a link itself, not its target, with RemoveDirectoryW.
    static void removeTree(const std::wstring& folder) {
        WIN32_FIND_DATAW data;
        FindHandle find(FindFirstFileW((folder + L"\\*").c_str(), &data));
        if (find) {
            do {
                const std::wstring name = data.cFileName;
                if (name == L"." || name == L"..")
                    continue;
                const std::wstring child = folder + L"\\" + name;
                const DWORD attributes = data.dwFileAttributes;
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)
                    RemoveDirectoryW(child.c_str());
                else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
                    removeTree(child);
                else
                    DeleteFileW(child.c_str());
            } while (FindNextFileW(find.get(), &data));
        }
        RemoveDirectoryW(folder.c_str());
    }

    HostSide host_;
    Win32Registry registry_;
    std::unique_ptr<Win32FileSystem> fs_;
    std::string keyRoot_;
    std::string folderRoot_;
};

} // namespace

std::unique_ptr<ContractWorld> makeContractWorld() {
    return std::make_unique<Win32World>();
}

} // namespace uninst::test
