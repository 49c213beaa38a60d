#include "engine/installed_applications.h"

#include "engine/ascii_case.h"
#include "engine/csv.h"
#include "engine/error.h"
#include "engine/exit_codes.h"
#include "engine/installlog.h"
#include "engine/ports.h"
#include "engine/preflight.h"
#include "engine/registration.h"
#include "engine/removal.h"
#include "engine/run.h"
#include "engine/state.h"
#include "engine/system_paths.h"
#include "engine/unattended.h"

#include <algorithm>
#include <functional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace uninst {

// The reader the planned file system holds: it passes everything on, and
// keeps the size of each file a listing gave, so that the rows can be
// counted in bytes without asking the disk again.
class ApplicationInventory::Sizes final : public FileSystemReader {
public:
    explicit Sizes(FileSystemReader& inner) : inner_(inner) {}

    std::string fullPath(const std::string& path) override { return inner_.fullPath(path); }
    std::string foldCase(const std::string& text) override { return inner_.foldCase(text); }
    FolderListing listFolder(const std::string& path) override {
        FolderListing listing = inner_.listFolder(path);
        note(listing);
        return listing;
    }
    std::vector<ListedFolder> listFolders(const std::vector<std::string>& paths) override {
        std::vector<ListedFolder> listed = inner_.listFolders(paths);
        for (const ListedFolder& folder : listed)
            note(folder.listing);
        return listed;
    }
    bool folderExists(const std::string& path) override { return inner_.folderExists(path); }
    bool isMissing(const std::string& path) override { return inner_.isMissing(path); }
    void setRemovalRoots(const std::vector<std::string>& roots) override {
        inner_.setRemovalRoots(roots);
    }
    DeleteCheck checkDelete(const std::string& path) override { return inner_.checkDelete(path); }
    std::vector<DeleteCheck> checkDeletes(const std::vector<std::string>& paths) override {
        return inner_.checkDeletes(paths);
    }
    std::vector<bool> deletableUnlessInUse(const std::vector<std::string>& paths) override {
        return inner_.deletableUnlessInUse(paths);
    }
    std::string readTextFile(const std::string& path) override { return inner_.readTextFile(path); }

    std::uint64_t bytesOf(const std::string& file) const {
        const auto found = bytes_.find(file);
        return found == bytes_.end() ? 0 : found->second;
    }

private:
    void note(const FolderListing& listing) {
        for (std::size_t i = 0; i < listing.files.size() && i < listing.fileBytes.size(); ++i)
            bytes_[listing.files[i]] = listing.fileBytes[i];
    }

    FileSystemReader& inner_;
    std::unordered_map<std::string, std::uint64_t> bytes_;
};

// The shell with its fixed answers asked once: every record's start-up asks
// for the shared folders, which is dozens of system calls each time.
class ApplicationInventory::OnceShell final : public Shell {
public:
    explicit OnceShell(Shell& inner) : inner_(inner) {}

    std::vector<std::string> programsFolders() override {
        if (!programs_)
            programs_ = inner_.programsFolders();
        return *programs_;
    }
    std::vector<std::string> systemFolders() override {
        if (!system_)
            system_ = inner_.systemFolders();
        return *system_;
    }
    std::vector<SharedFolder> sharedFolders() override {
        if (!shared_)
            shared_ = inner_.sharedFolders();
        return *shared_;
    }
    std::optional<std::string> finalFolder(const std::string& path) override {
        return inner_.finalFolder(path);
    }
    std::vector<std::string> folderNames(const std::string& path) override {
        return inner_.folderNames(path);
    }
    std::optional<std::string> shortcutTarget(const std::string& path) override {
        return inner_.shortcutTarget(path);
    }
    std::string expandEnvironment(const std::string& text) override {
        return inner_.expandEnvironment(text);
    }

private:
    Shell& inner_;
    std::optional<std::vector<std::string>> programs_;
    std::optional<std::vector<std::string>> system_;
    std::optional<std::vector<SharedFolder>> shared_;
};

// The registry the records' start-ups read. Each start-up reads its own
// App Paths entry again, as apath reads it and as the expansion check reads
// it, which for two thousand entries is most of the inventory's round
// trips. Where the pass over App Paths read the entry's value, on the key
// opened as itself, as plain text with one terminator, both reads give that
// text, so both are answered with it: from one reading, as the run's two
// reads made back to back would give it. Any other entry (another type, no
// value, a NUL inside, a link, one the pass could not open) is read again
// as before, both reads at the record's own time. The inventory reports the
// registry as the pass found it; the run reads again for itself.
class ApplicationInventory::AppPathsAsRead final : public RegistryReader {
public:
    explicit AppPathsAsRead(RegistryReader& inner) : inner_(inner) {}

    Status openKey(Key root, const std::string& path, Key& out) override {
        const Status status = inner_.openKey(root, path, out);
        if (status.isSuccess() && root == localMachine && path == appPathsKeyPath)
            appPathsKeys_.push_back(out);
        return status;
    }
    Status closeKey(Key key) override {
        const auto held = std::find(appPathsKeys_.begin(), appPathsKeys_.end(), key);
        if (held != appPathsKeys_.end())
            appPathsKeys_.erase(held);
        return inner_.closeKey(key);
    }
    Status readDefaultValue(Key key, const std::string& subkey, Value& out) override {
        if (isAppPaths(key)) {
            if (const PathValue* read = plainText(std::string(appPathsKeyPath) + "\\" + subkey)) {
                out = read->value;
                return read->status;
            }
        }
        return inner_.readDefaultValue(key, subkey, out);
    }
    Status readValue(Key key, const std::string& name, Value& out) override {
        return inner_.readValue(key, name, out);
    }
    std::vector<PathValue> readValueOfEach(Key root, const std::vector<std::string>& paths,
                                           const std::string& name) override {
        const bool entryValues = root == localMachine && name.empty();
        if (entryValues) {
            std::vector<PathValue> remembered;
            for (const std::string& path : paths) {
                const PathValue* read = plainText(path);
                if (read == nullptr)
                    break;
                remembered.push_back(*read);
            }
            if (remembered.size() == paths.size())
                return remembered;
        }
        std::vector<PathValue> reads = inner_.readValueOfEach(root, paths, name);
        // Only the first reading of an entry is kept: that of the pass.
        if (entryValues) {
            for (std::size_t i = 0; i < paths.size() && i < reads.size(); ++i) {
                if (isAppPathsEntry(paths[i]))
                    passReads_.emplace(paths[i], reads[i]);
            }
        }
        return reads;
    }
    std::vector<PathValues> readValuesOfEach(Key root, const std::vector<std::string>& paths,
                                             const std::string& last,
                                             const std::vector<std::string>& named) override {
        return inner_.readValuesOfEach(root, paths, last, named);
    }
    Status enumKey(Key key, std::uint32_t index, std::string& name) override {
        return inner_.enumKey(key, index, name);
    }
    Status enumValue(Key key, std::uint32_t index, std::string& name, Value& value) override {
        return inner_.enumValue(key, index, name, value);
    }
    bool sameName(std::string_view a, std::string_view b) override { return inner_.sameName(a, b); }
    int compareNames(std::string_view a, std::string_view b) override {
        return inner_.compareNames(a, b);
    }
    std::size_t codePageLength(std::string_view text) override {
        return inner_.codePageLength(text);
    }

private:
    // The pass's read of the entry at `path`, where it is plain text with
    // one terminator from a key that opened as itself.
    const PathValue* plainText(const std::string& path) const {
        const auto read = passReads_.find(path);
        if (read == passReads_.end() || !read->second.opened || !read->second.status.isSuccess())
            return nullptr;
        const Value& value = read->second.value;
        if (value.type != typeSz || value.data.find('\0') + 1 != value.data.size())
            return nullptr;
        return &read->second;
    }
    bool isAppPaths(Key key) const {
        return std::find(appPathsKeys_.begin(), appPathsKeys_.end(), key) != appPathsKeys_.end();
    }
    static bool isAppPathsEntry(const std::string& path) {
        const std::string_view list = appPathsKeyPath;
        return path.size() > list.size() + 1 && path.compare(0, list.size(), list) == 0 &&
               path[list.size()] == '\\';
    }

    RegistryReader& inner_;
    std::vector<Key> appPathsKeys_; // the App Paths list's handles now open
    std::unordered_map<std::string, PathValue> passReads_;
};

namespace {

// The step start-up was in when it threw.
class LastStep final : public StepObserver {
public:
    void before(std::string_view step) override { step_ = step; }
    void after(std::string_view) override {}
    std::string_view step() const { return step_; }

private:
    std::string_view step_;
};

std::string textOf(const Registry::PathValue& read) {
    const Registry::Value& value = read.value;
    if (!read.status.isSuccess() ||
        (value.type != Registry::typeSz && value.type != Registry::typeExpandSz))
        return {};
    return value.data.substr(0, value.data.find('\0'));
}

} // namespace

ApplicationInventory::ApplicationInventory(RegistryReader& registry, FileSystemReader& fs,
                                           Shell& shell)
    : sizes_(std::make_unique<Sizes>(fs)), shell_(std::make_unique<OnceShell>(shell)),
      appPaths_(std::make_unique<AppPathsAsRead>(registry)), registry_(*appPaths_), fs_(*sizes_) {}

ApplicationInventory::~ApplicationInventory() = default;

const RegisteredApplications& ApplicationInventory::registered() {
    if (!registered_) {
        registered_ = readRegisteredApplications(registry_, fs_, shell_.get());
        indexByName(*registered_, registry_);
    }
    return *registered_;
}

std::vector<InstalledApplication> ApplicationInventory::all() {
    const RegisteredApplications& list = registered();
    if (list.entries.empty() && list.unreadable)
        throw *list.unreadable;
    scanUninstallEntries(true);
    // The display texts of every entry a record may show, together: a
    // registry of round trips answers them several at a time.
    std::vector<std::size_t> shown;
    for (const RegisteredApplications::Entry& entry : list.entries) {
        if (const std::optional<std::size_t> found = uninstallEntryOf(entry.name))
            shown.push_back(*found);
    }
    readDisplayTexts(shown);
    std::vector<InstalledApplication> records;
    records.reserve(list.entries.size());
    for (const RegisteredApplications::Entry& entry : list.entries)
        records.push_back(one(entry.name));
    return records;
}

InstalledApplication ApplicationInventory::one(const std::string& name) {
    InstalledApplication record;
    record.name = name;
    UninstallState state;
    RowList rows;
    LastStep last;
    try {
        startUp(state, registry_, fs_, *shell_, name, rows, &last, &registered(),
                StartUpFor::listingOnly);
    } catch (const Error& error) {
        record.installFolder = state.installdir;
        record.reason = error.what();
        if (state.installdir.empty())
            record.state = ApplicationState::notRegistered;
        // Only a folder the system finds gone: one this user may not look
        // into is there, and the run would be refused by it.
        else if ((last.step() == "findOtherApplications" || last.step() == "listfolder") &&
                 fs_.isMissing(state.installdir))
            record.state = ApplicationState::folderMissing;
        else
            record.state = ApplicationState::refused;
        if (record.state != ApplicationState::notRegistered)
            findUninstallEntry(record);
        return record;
    }
    record.installFolder = state.installdir;
    record.listed = true;
    record.files = rows.rowCount();
    for (std::size_t i = 0; i < record.files; ++i)
        record.bytes += sizes_->bytesOf(rows.rowText(i));
    const std::string installLog = installLogPath(state.installdir);
    for (const std::string& file : state.toolkitFiles) {
        if (sameAsciiCase(file, installLog))
            record.installLog = true;
    }
    // What a quiet run asks before it changes anything: which files go, the
    // install log among them, whether each can go (a read-only file stops
    // the run, one in use waits for the restart), and what the log says.
    try {
        const std::vector<std::string> files = filesToDelete(state, rows);
        std::vector<std::string> roots{state.installdir, startMenuRoot};
        for (std::string& folder : shell_->programsFolders())
            roots.push_back(std::move(folder));
        fs_.setRemovalRoots(roots);
        DeleteAtRestartWhenInUse atRestart;
        preflight(state, fs_, filesThatMayRefuse(state, files), &atRestart);
        UnseenProgress progress;
        readlog(state, fs_, state.installdir, progress);
        record.state = ApplicationState::removable;
    } catch (const Error& error) {
        record.reason = error.what();
        record.state =
            record.installLog ? ApplicationState::refused : ApplicationState::noInstallLog;
    }
    // The run's own words ask for a second start, which would not help here.
    if (record.state == ApplicationState::noInstallLog)
        record.reason = "There is no install log (ST6UNST.LOG) in " + state.installdir +
                        ": the application was not set up with one, and the uninstaller does not "
                        "remove it. Nothing has been changed.";
    findUninstallEntry(record);
    return record;
}

// A quiet run takes a file in use to the restart, all but the install log,
// so for the others only a refusal counts, and the system can vouch for
// most files without opening each as the pre-flight does. Only the rest is
// asked as the pre-flight asks.
std::vector<std::string>
ApplicationInventory::filesThatMayRefuse(const UninstallState& state,
                                         const std::vector<std::string>& files) {
    std::vector<std::string> others;
    for (const std::string& file : files) {
        if (!isInstallLog(state, file))
            others.push_back(file);
    }
    const std::vector<bool> vouched = fs_.deletableUnlessInUse(others);
    std::vector<std::string> asked;
    std::size_t other = 0;
    for (const std::string& file : files) {
        if (isInstallLog(state, file) || other >= vouched.size() || !vouched[other++])
            asked.push_back(file);
    }
    return asked;
}

void ApplicationInventory::findUninstallEntry(InstalledApplication& record) {
    const std::optional<std::size_t> found = uninstallEntryOf(record.name);
    if (!found)
        return;
    readDisplayTexts({*found});
    record.displayName = (*uninstall_)[*found].displayName;
    record.displayVersion = (*uninstall_)[*found].displayVersion;
}

void ApplicationInventory::readDisplayTexts(const std::vector<std::size_t>& entries) {
    std::vector<std::size_t> unread;
    std::vector<std::string> paths;
    for (const std::size_t entry : entries) {
        UninstallEntry& uninstall = (*uninstall_)[entry];
        if (uninstall.textsRead)
            continue;
        uninstall.textsRead = true;
        unread.push_back(entry);
        paths.push_back(std::string(uninstallKeyPath) + "\\" + uninstall.name);
    }
    if (paths.empty())
        return;
    const std::vector<Registry::PathValue> names =
        registry_.readValueOfEach(Registry::localMachine, paths, "DisplayName");
    const std::vector<Registry::PathValue> versions =
        registry_.readValueOfEach(Registry::localMachine, paths, "DisplayVersion");
    for (std::size_t i = 0; i < unread.size(); ++i) {
        (*uninstall_)[unread[i]].displayName = textOf(names[i]);
        (*uninstall_)[unread[i]].displayVersion = textOf(versions[i]);
    }
}

void ApplicationInventory::scanUninstallEntries(bool withDisplayTexts, const std::string* onlyFor) {
    if (uninstall_ && (!scannedFor_ ||
                       (onlyFor != nullptr && registry_.compareNames(*scannedFor_, *onlyFor) == 0)))
        return;
    // A second application's lookup reads the whole list: a third one then
    // finds it read. The display texts read already stay with their entries.
    std::vector<UninstallEntry> before;
    if (uninstall_) {
        before = std::move(*uninstall_);
        onlyFor = nullptr;
    }
    uninstallKeys_.clear();
    if (onlyFor != nullptr)
        scannedFor_ = *onlyFor;
    else
        scannedFor_.reset();
    // Walked as the registration's removal walks the list: by the names
    // an 8-bit caller reads, passing over one too long for its buffer.
    uninstall_.emplace();
    ScopedKey list(registry_);
    if (list.open(Registry::localMachine, uninstallKeyPath)) {
        std::string keyName;
        for (std::uint32_t index = 0;; ++index) {
            keyName.assign(255, ' ');
            std::uint32_t length = 0;
            const Registry::Status status =
                codepage::enumKey(registry_, list.get(), index, keyName, length);
            if (status.isMoreData())
                continue;
            if (!status.isSuccess())
                break;
            uninstall_->emplace_back().name.assign(keyName, 0, length);
        }
    }
    std::unordered_map<std::string, const UninstallEntry*> textsBefore;
    for (const UninstallEntry& entry : before) {
        if (entry.textsRead)
            textsBefore.emplace(entry.name, &entry);
    }
    std::vector<std::string> paths;
    paths.reserve(uninstall_->size());
    for (UninstallEntry& entry : *uninstall_) {
        paths.push_back(std::string(uninstallKeyPath) + "\\" + entry.name);
        if (const auto read = textsBefore.find(entry.name); read != textsBefore.end()) {
            entry.textsRead = true;
            entry.displayName = read->second->displayName;
            entry.displayVersion = read->second->displayVersion;
        }
    }
    // An entry that names an application in AppToUninstall is most
    // likely one a record shows, and its values are walked anyway: its
    // display texts are read on that same opening of the key.
    const std::vector<std::string> displayTexts{"DisplayName", "DisplayVersion"};
    std::vector<std::vector<Registry::PathValue>> alsoRead;
    // One application's lookup walks only the entries whose text, read by
    // name, names it: the removal settles every other one without a walk.
    std::function<bool(std::string_view)> wanted;
    if (onlyFor != nullptr)
        wanted = [&](std::string_view text) { return registry_.compareNames(text, *onlyFor) == 0; };
    std::vector<std::optional<std::string>> texts = appToUninstallOfEach(
        registry_, paths, withDisplayTexts ? displayTexts : std::vector<std::string>{}, &alsoRead,
        wanted);
    for (std::size_t i = 0; i < uninstall_->size(); ++i) {
        UninstallEntry& entry = (*uninstall_)[i];
        entry.appToUninstall = std::move(texts[i]);
        // A key deleted between the two reads left one text of a moment
        // that never was: such an entry is read again as any other.
        const std::vector<Registry::PathValue>& read = alsoRead[i];
        if (read.size() == displayTexts.size() && read[0].opened && read[1].opened) {
            entry.textsRead = true;
            entry.displayName = textOf(read[0]);
            entry.displayVersion = textOf(read[1]);
        }
    }
    // Each entry under its name and its AppToUninstall text, in the
    // registry's order of names: a lookup per record, not a comparison
    // with every entry.
    for (std::size_t i = 0; i < uninstall_->size(); ++i) {
        uninstallKeys_.push_back({i, false});
        if ((*uninstall_)[i].appToUninstall)
            uninstallKeys_.push_back({i, true});
    }
    std::stable_sort(uninstallKeys_.begin(), uninstallKeys_.end(),
                     [&](const UninstallKey& a, const UninstallKey& b) {
                         const UninstallEntry& x = (*uninstall_)[a.entry];
                         const UninstallEntry& y = (*uninstall_)[b.entry];
                         return registry_.compareNames(a.byValue ? *x.appToUninstall : x.name,
                                                       b.byValue ? *y.appToUninstall : y.name) < 0;
                     });
}

std::optional<std::size_t> ApplicationInventory::uninstallEntryOf(const std::string& name) {
    scanUninstallEntries(false, &name);
    // The first entry in the list's order that names the application.
    const auto keyOf = [&](const UninstallKey& key) -> const std::string& {
        const UninstallEntry& entry = (*uninstall_)[key.entry];
        return key.byValue ? *entry.appToUninstall : entry.name;
    };
    auto at = std::lower_bound(uninstallKeys_.begin(), uninstallKeys_.end(), name,
                               [&](const UninstallKey& key, const std::string& wanted) {
                                   return registry_.compareNames(keyOf(key), wanted) < 0;
                               });
    std::optional<std::size_t> first;
    for (; at != uninstallKeys_.end() && registry_.compareNames(keyOf(*at), name) == 0; ++at)
        first = first ? std::min(*first, at->entry) : at->entry;
    return first;
}

int detectionExitCode(const InstalledApplication& record) {
    switch (record.state) {
    case ApplicationState::removable:
        return exitRemoved;
    case ApplicationState::notRegistered:
    case ApplicationState::folderMissing:
        return exitNotRegistered;
    case ApplicationState::noInstallLog:
    case ApplicationState::refused:
        break;
    }
    return exitRunFailed;
}

std::string_view stateText(ApplicationState state) {
    switch (state) {
    case ApplicationState::removable:
        return "removable";
    case ApplicationState::noInstallLog:
        return "no install log";
    case ApplicationState::folderMissing:
        return "folder missing";
    case ApplicationState::refused:
        return "refused";
    case ApplicationState::notRegistered:
        break;
    }
    return "not registered";
}

int listApplications(ApplicationInventory& inventory, const std::string& name, RunLog* out,
                     RunLog* errors) {
    std::vector<InstalledApplication> records;
    if (!name.empty()) {
        records.push_back(inventory.one(name));
    } else {
        try {
            records = inventory.all();
        } catch (const Error& error) {
            RunReport(errors, false).error(error.what());
            return exitRunFailed;
        }
    }
    if (out != nullptr) {
        out->write(inventoryHeader());
        for (const InstalledApplication& record : records)
            out->write(inventoryLine(record));
    }
    return name.empty() ? exitRemoved : detectionExitCode(records.front());
}

std::string inventoryHeader() {
    return csvRecord({"Name", "DisplayName", "DisplayVersion", "InstallFolder", "Files", "Bytes",
                      "InstallLog", "State", "Reason"});
}

std::string inventoryLine(const InstalledApplication& record) {
    const std::string files = record.listed ? std::to_string(record.files) : std::string();
    const std::string bytes = record.listed ? std::to_string(record.bytes) : std::string();
    const std::string_view log = !record.listed ? "" : record.installLog ? "yes" : "no";
    return csvRecord({record.name, record.displayName, record.displayVersion, record.installFolder,
                      files, bytes, log, stateText(record.state), record.reason});
}

} // namespace uninst
