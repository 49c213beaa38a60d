#pragma once

#include "engine/filesystem.h"
#include "engine/registry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace uninst::test {

// A private corner of a registry and a file system that the contract tests
// may fill and inspect. The same tests run natively against the in-memory
// implementations and under Wine against the Win32 ones; each world builds
// its fixtures with means outside the interfaces under test.
class ContractWorld {
public:
    virtual ~ContractWorld() = default;

    virtual Registry& registry() = 0;
    virtual FileSystem& fs() = 0;

    // A key path under HKEY_LOCAL_MACHINE, and a folder path, that exist,
    // are empty, and belong to this world alone. Removed by the destructor.
    virtual std::string keyRoot() = 0;
    virtual std::string folderRoot() = 0;

    // Registry fixtures; paths are full key paths under HKEY_LOCAL_MACHINE.
    virtual void createKey(const std::string& path) = 0;
    virtual void setValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                          const std::string& data) = 0;
    virtual bool keyExists(const std::string& path) = 0;

    // File-system fixtures; paths are full.
    virtual void createFolder(const std::string& path) = 0;
    // `content` is text, written in the code page the file system reads
    // text files in; `bytes` are written exactly as they are.
    virtual void createFile(const std::string& path, const std::string& content) = 0;
    virtual void createFileOfBytes(const std::string& path, const std::string& bytes) = 0;
    virtual void makeReadOnly(const std::string& path) = 0;
    // A directory link at `link` whose target is the existing folder `target`.
    virtual void createFolderLink(const std::string& link, const std::string& target) = 0;
    // A symbolic link at `link` to the existing file `target`; false when
    // this world cannot make one.
    virtual bool createFileLink(const std::string& link, const std::string& target) = 0;
    virtual bool fileExists(const std::string& path) = 0;
    virtual bool folderExists(const std::string& path) = 0;
};

// Defined once per build: the in-memory world natively, the Win32 world in
// the Windows tree.
std::unique_ptr<ContractWorld> makeContractWorld();

} // namespace uninst::test
