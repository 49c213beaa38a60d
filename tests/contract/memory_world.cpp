#include "tests/contract/world.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_registry.h"

namespace uninst::test {

namespace {

// Fixtures go through the in-memory classes' own building API, never through
// the Registry and FileSystem calls the tests exercise.
class MemoryWorld : public ContractWorld {
public:
    MemoryWorld() {
        registry_.createKey(keyRoot());
        files_.addFolder(folderRoot());
    }

    Registry& registry() override { return registry_; }
    FileSystem& fs() override { return files_; }

    std::string keyRoot() override { return "Software\\ContractTest"; }
    std::string folderRoot() override { return "C:\\contract"; }

    void createKey(const std::string& path) override { registry_.createKey(path); }
    void setValue(const std::string& keyPath, const std::string& name, std::uint32_t type,
                  const std::string& data) override {
        registry_.setValue(keyPath, name, type, data);
    }
    bool keyExists(const std::string& path) override { return registry_.keyExists(path); }

    void createFolder(const std::string& path) override { files_.addFolder(path); }
    void createFile(const std::string& path, const std::string& content) override {
        files_.addFile(path, content);
    }
    void createFileOfBytes(const std::string& path, const std::string& bytes) override {
        files_.addFile(path, bytes);
    }
    void makeReadOnly(const std::string& path) override { files_.setReadOnly(path); }
    void createFolderLink(const std::string& link, const std::string& target) override {
        files_.addLink(link, target);
    }
    // The in-memory file system has folder links only.
    bool createFileLink(const std::string&, const std::string&) override { return false; }
    bool fileExists(const std::string& path) override { return files_.fileExists(path); }
    bool folderExists(const std::string& path) override {
        return files_.exists(path) && !files_.fileExists(path);
    }

private:
    MemoryRegistry registry_;
    MemoryFileSystem files_;
};

} // namespace

std::unique_ptr<ContractWorld> makeContractWorld() {
    return std::make_unique<MemoryWorld>();
}

} // namespace uninst::test
