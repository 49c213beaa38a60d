#pragma once

#include "engine/filesystem.h"
#include "engine/forwarding_ports.h"
#include "engine/registry.h"
#include "tests/support/recording_ports.h"

#include <cstddef>
#include <string>
#include <type_traits>
#include <vector>

// Decorators that forward every call to a real implementation and make one
// chosen call fail the way the real layer would: a file-system operation
// throws Error naming the operation and the path, a registry operation
// returns a failing status and writes no output.
namespace uninst::test {

// Decides which call fails, by its number in the decorator's call log.
class FaultPlan {
public:
    static constexpr std::size_t never = static_cast<std::size_t>(-1);

    void failAt(std::size_t call) { failAt_ = call; }
    // The call that was made to fail, or empty.
    const std::string& injected() const { return injected_; }

protected:
    // True when call number `call`, logged as `text`, is the one to fail.
    bool fails(std::size_t call, const std::string& text);

private:
    std::size_t failAt_ = never;
    std::string injected_;
};

class FaultyFileSystem : public RecordingFileSystem, public FaultPlan {
public:
    explicit FaultyFileSystem(FileSystem& inner, Batches batches = Batches::oneAtATime)
        : RecordingFileSystem(inner, batches) {}

    // An injected failure here is a refusal: the folder stays and the answer
    // is false, as the real call gives.
    bool removeEmptyFolder(const std::string& path) override;
    // A whole batch fails as one that runs on several threads does: the file
    // in its middle fails, those before it and the one after it, already
    // under way, are deleted, and the rest are not reached. The failure
    // names that one file, as deleteFile would have.
    FileRemovals deleteFiles(const std::vector<std::string>& paths) override;

    // The message the injected failure carries.
    static std::string message(const std::string& operation, const std::string& path);

private:
    void before(const std::string& operation, const std::string& path) override;
    bool next(const std::string& operation, const std::string& path);
};

class FaultyRegistry : public ReadThroughRegistry, public CallLog, public FaultPlan {
public:
    // What a failing call returns: a status with no name of its own
    // (ERROR_IO_DEVICE).
    static constexpr Status injectedStatus = Status(1117);

    explicit FaultyRegistry(Registry& inner, Batches batches = Batches::oneAtATime)
        : ReadThroughRegistry(inner), inner_(inner), batches_(batches) {}

    // Every call to the service is logged and may fail; a close that fails
    // leaves the handle open, as the real service would. The registry's rules
    // for names (sameName, codePageLength) ask nothing of the service: they
    // neither fail nor count as calls.
    Status openKey(Key root, const std::string& path, Key& out) override {
        return next("openKey", path) ? injectedStatus : inner().openKey(root, path, out);
    }
    Status closeKey(Key key) override {
        return next("closeKey", std::to_string(key)) ? injectedStatus : inner().closeKey(key);
    }
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override {
        return next("readDefaultValue", subkey) ? injectedStatus
                                                : inner().readDefaultValue(key, subkey, out);
    }
    Status readValue(Key key, const std::string& name, Value& out) override {
        return next("readValue", name) ? injectedStatus : inner().readValue(key, name, out);
    }
    // One key at a time through the calls above, each able to fail on its
    // own; or whole, as the Win32 registry answers it, where an injected
    // failure is the one request failing: no key read.
    std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                           const std::string& name) override;
    Status setDwordValue(Key key, const std::string& name, std::uint32_t value) override {
        return next("setDwordValue", name) ? injectedStatus
                                           : inner().setDwordValue(key, name, value);
    }
    Status deleteKey(Key key, const std::string& subkey) override {
        return next("deleteKey", subkey) ? injectedStatus : inner().deleteKey(key, subkey);
    }
    Status deleteTree(Key key, const std::string& subkey) override {
        return next("deleteTree", subkey) ? injectedStatus : inner().deleteTree(key, subkey);
    }
    Status createSubKey(Key key, const std::string& name, Key& out) override {
        return next("createSubKey", name) ? injectedStatus : inner().createSubKey(key, name, out);
    }
    Status writeValue(Key key, const std::string& name, const Value& value) override {
        return next("writeValue", name) ? injectedStatus : inner().writeValue(key, name, value);
    }
    Status enumKey(Key key, std::uint32_t index, std::string& name) override {
        return next("enumKey", "#" + std::to_string(index)) ? injectedStatus
                                                            : inner().enumKey(key, index, name);
    }
    Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) override {
        return next("enumValue", "#" + std::to_string(index))
                   ? injectedStatus
                   : inner().enumValue(key, index, name, value);
    }

private:
    Registry& inner() { return inner_; }
    // Logs the call; true when it is the one to fail.
    bool next(const std::string& operation, const std::string& subject);

    Registry& inner_;
    Batches batches_;
};
static_assert(!std::is_abstract_v<FaultyRegistry>,
              "every change to the registry is recorded, and may fail");

} // namespace uninst::test
