#pragma once

#include "engine/filesystem.h"
#include "engine/planned_ports.h"
#include "engine/registry.h"
#include "engine/run_log.h"
#include "engine/shared_folders.h"
#include "engine/shell.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The applications App Paths registers, each as the run would find it: the
// records come from the run's own start-up, so that what they say and what a
// run does can never part.

namespace uninst {

enum class ApplicationState {
    removable,     // a quiet run removes it
    noInstallLog,  // listed, but no install log: not this program's to remove
    folderMissing, // registered, but its folder is not there: nothing installed
    refused,       // start-up, or the install log's reading, refuses it
    notRegistered, // no App Paths entry, or one that names no folder
};

struct InstalledApplication {
    std::string name; // as App Paths names it, or as asked for
    // The Uninstall entry's, found as the registration's removal finds it;
    // empty without one.
    std::string displayName;
    std::string displayVersion;
    // As the run resolves it; as registered when start-up refused it first.
    std::string installFolder;
    // Whether start-up listed the folder: only then are the counts and the
    // install log known.
    bool listed = false;
    std::size_t files = 0; // the rows the window would show
    std::uint64_t bytes = 0;
    bool installLog = false;
    ApplicationState state = ApplicationState::notRegistered;
    std::string reason; // what the run would say; empty for a removable one
};

// Reads through the caller's ports without reaching their changing side: the
// registry and the file system are wrapped in the preview's planned ports,
// which hold only the readers, and nothing is ever planned. One reading of
// App Paths serves every record, every folder is listed once, and the
// shell's shared folders are asked once.
class ApplicationInventory {
public:
    ApplicationInventory(RegistryReader& registry, FileSystemReader& fs, Shell& shell);
    ~ApplicationInventory();
    ApplicationInventory(const ApplicationInventory&) = delete;
    ApplicationInventory& operator=(const ApplicationInventory&) = delete;

    // One record per App Paths entry, in the list's order. Throws Error when
    // the list cannot be read at all.
    std::vector<InstalledApplication> all();
    // The record of the application the run would take for `name`.
    InstalledApplication one(const std::string& name);

private:
    struct UninstallEntry {
        std::string name;
        std::optional<std::string> appToUninstall;
        // Read only for the entries a record shows.
        bool textsRead = false;
        std::string displayName;
        std::string displayVersion;
    };
    struct UninstallKey {
        std::size_t entry;
        bool byValue; // its AppToUninstall text rather than its name
    };
    class Sizes;
    class OnceShell;
    class AppPathsAsRead;

    std::unique_ptr<Sizes> sizes_;
    std::unique_ptr<OnceShell> shell_;
    std::unique_ptr<AppPathsAsRead> appPaths_;
    PlannedRegistry registry_;
    PlannedFileSystem fs_;
    std::optional<RegisteredApplications> registered_;
    std::optional<std::vector<UninstallEntry>> uninstall_;
    std::vector<UninstallKey> uninstallKeys_;
    // The one application the scan looked for, where it looked for one.
    std::optional<std::string> scannedFor_;

    const RegisteredApplications& registered();
    // Of the files a quiet run would delete, those its pre-flight could
    // refuse, in the order given.
    std::vector<std::string> filesThatMayRefuse(const UninstallState& state,
                                                const std::vector<std::string>& files);
    void findUninstallEntry(InstalledApplication& record);
    // Reads the Uninstall list once: each entry's name and AppToUninstall
    // text, and with `withDisplayTexts` the display texts of each entry
    // whose values are walked for that text. With `onlyFor`, only the texts
    // that name that application are taken, and the list is read again when
    // another is looked up.
    void scanUninstallEntries(bool withDisplayTexts, const std::string* onlyFor = nullptr);
    // The first Uninstall entry, in the list's order, that names `name` by
    // its key or its AppToUninstall text, as the registration's removal
    // finds it.
    std::optional<std::size_t> uninstallEntryOf(const std::string& name);
    // Each given entry's display name and version, asked together of those
    // not read yet.
    void readDisplayTexts(const std::vector<std::size_t>& entries);
};

// What `/list NAME` ends with: 0 removable, 1605 nothing installed (no
// registration, or no folder), 1603 there but a run would not remove it.
int detectionExitCode(const InstalledApplication& record);

std::string_view stateText(ApplicationState state);

// The run of /list: the header and the records of every application, or of
// `name` alone when one is given, written to `out` when there is one.
// Returns the exit code: detectionExitCode for a name; for the whole machine
// 0, or 1603 with the reason told to `errors` (when there is one, and
// nothing written to `out`) when App Paths cannot be read.
int listApplications(ApplicationInventory& inventory, const std::string& name, RunLog* out,
                     RunLog* errors);

// The inventory's header line and one record, as CSV.
std::string inventoryHeader();
std::string inventoryLine(const InstalledApplication& record);

} // namespace uninst
