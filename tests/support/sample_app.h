#pragma once

#include "engine/command_line.h"
#include "engine/state.h"
#include "tests/support/memory_filesystem.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_ports.h"

#include <initializer_list>
#include <string>

// A small installed application, "myapp.exe", as the setup toolkit leaves it,
// beside another application that must survive its removal. Tests of single
// steps, whole runs, injected faults and benchmarks start from it.
namespace uninst::test::sample {

// Registry keys, full paths below HKEY_LOCAL_MACHINE.
inline const std::string appPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths";
inline const std::string uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline const std::string sharedDllsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

inline const std::string exe = "myapp.exe";
inline const std::string appPathsEntry = appPathsKey + "\\myapp.exe";
// Named after the product, not the executable: found by its AppToUninstall.
inline const std::string uninstallEntry = uninstallKey + "\\MyApp";

// The install folder and what the inventory lists from it, in listing order.
inline const std::string installdir = "C:\\Program Files\\MyApp";
inline const std::string dataFile = installdir + "\\data.mdb";
inline const std::string exeFile = installdir + "\\myapp.exe";
inline const std::string readme = installdir + "\\readme.txt";
inline const std::string log = installdir + "\\ST6UNST.LOG";
inline const std::string helpFolder = installdir + "\\Help";
inline const std::string helpFile = helpFolder + "\\myapp.hlp";
inline const std::string imagesFolder = helpFolder + "\\Images";
inline const std::string logo = imagesFolder + "\\logo.bmp";
inline const std::string samplesFolder = installdir + "\\Samples";
inline const std::string sampleData = samplesFolder + "\\sample1.dat";

// Shared system files named by the log, with their counts before a run:
// 3 (lowered to 2), 1 (lowered to 0, self-registered) and 0 (left as is).
inline const std::string sharedLib = "C:\\WINDOWS\\SYSTEM\\mylib.dll";
inline const std::string sharedControl = "C:\\WINDOWS\\SYSTEM\\grid32.ocx";
inline const std::string sharedUnused = "C:\\WINDOWS\\SYSTEM\\report.dll";

inline const std::string group = "MyApp";
inline const std::string groupFolder = "C:\\WINDOWS\\Start Menu\\Programs\\MyApp";

// The other application: nothing of it may change.
inline const std::string otherExe = "other.exe";
inline const std::string otherInstalldir = "C:\\Program Files\\Other";
inline const std::string otherGroupFolder = "C:\\WINDOWS\\Start Menu\\Programs\\Other";
inline const std::string otherShared = "C:\\WINDOWS\\SYSTEM\\otherlib.dll";

// The install log text, lines ended by CR LF.
std::string logText();

// Puts both applications into the registry and the file system.
void install(MemoryRegistry& registry, MemoryFileSystem& fs);

// Builds a log from lines, each ended by CR LF.
std::string lines(std::initializer_list<std::string> text);

} // namespace uninst::test::sample

namespace uninst::test {

// One program run over a world: the registry and the file system outlive
// runs, the state and the window's stand-ins are new for each run.
class SampleWorld {
public:
    // With `installed`, the sample applications are put in place.
    explicit SampleWorld(bool installed = true);

    MemoryRegistry registry;
    MemoryFileSystem fs;
    UninstallState state;
    RecordingList list;
    RecordingProgress progress;

    // Start-up with the given argument text; throws Error as the window's
    // load handler would.
    void startUp(const std::string& cmdline = sample::exe);
    // The "&Uninstall" button.
    void uninstall();
    // A new program run over the same world.
    void restart();
};

// The options of a run with the window for `appName`, nothing else asked.
inline Options optionsFor(const std::string& appName) {
    Options options;
    options.appName = appName;
    return options;
}

// C:\Tool\tool.exe registered, with the setup toolkit's log and st6unst.000
// in its folder, neither of which the listing shows.
inline void addToolWithToolkitFiles(SampleWorld& w) {
    w.registry.setString(sample::appPathsEntry, "", "C:\\Tool\\tool.exe");
    w.fs.addFile("C:\\Tool\\ST6UNST.LOG", "x\r\n");
    w.fs.addFile("C:\\Tool\\st6unst.000");
}

} // namespace uninst::test
