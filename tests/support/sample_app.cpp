#include "tests/support/sample_app.h"

#include "engine/run.h"

namespace uninst::test::sample {

std::string lines(std::initializer_list<std::string> text) {
    std::string result;
    for (const std::string& line : text)
        result.append(line).append("\r\n");
    return result;
}

std::string logText() {
    return lines({
        "NOTE: Now spawning the main Setup program 'Setup1.exe'....",
        "ACTION: CreateDir: \"C:\\Program Files\\MyApp\"",
        "ACTION: CreateDir: \"C:\\Program Files\\MyApp\\Help\"",
        "ACTION: CreateDir: \"C:\\Program Files\\MyApp\\Help\\Images\"",
        "ACTION: CreateDir: \"C:\\Program Files\\MyApp\\Samples\"",
        "ACTION: PrivateFile: \"C:\\Program Files\\MyApp\\myapp.exe\"",
        "ACTION: PrivateFile: \"C:\\Program Files\\MyApp\\readme.txt\"",
        "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\mylib.dll\"",
        "ACTION: DllSelfRegister: \"C:\\WINDOWS\\SYSTEM\\grid32.ocx\"",
        "ACTION: SystemFile: \"C:\\WINDOWS\\SYSTEM\\report.dll\"",
        "ACTION: CreateDir: \"C:\\WINDOWS\\Start Menu\\Programs\\MyApp\"",
        "ACTION: ShellLink: \"MyApp\",\"MyApp\",\"C:\\Program Files\\MyApp\\myapp.exe\",\"\"",
        "ACTION: ShellLink: \"MyApp\",\"Read Me\",\"C:\\Program Files\\MyApp\\readme.txt\",\"\"",
        "ACTION: RegKey: \"HKEY_LOCAL_MACHINE\\Software\\MyApp\"",
    });
}

void install(MemoryRegistry& registry, MemoryFileSystem& fs) {
    registry.setString(appPathsEntry, "", exeFile);
    registry.setString(appPathsKey + "\\" + otherExe, "", otherInstalldir + "\\other.exe");

    registry.setString(uninstallEntry, "DisplayName", "My Application");
    registry.setString(uninstallEntry, "UninstallString", "C:\\WINDOWS\\uninstall.exe myapp.exe");
    registry.setString(uninstallEntry, "AppToUninstall", exe);
    registry.setString(uninstallKey + "\\Other", "DisplayName", "Other Application");
    registry.setString(uninstallKey + "\\Other", "AppToUninstall", otherExe);
    registry.setString(uninstallKey + "\\{5A8E2C41-0D7B-4E55-9F0A-3C1B2D4E6F70}", "DisplayName",
                       "Some Tool");

    registry.setDword(sharedDllsKey, sharedLib, 3);
    registry.setDword(sharedDllsKey, sharedControl, 1);
    registry.setDword(sharedDllsKey, sharedUnused, 0);
    registry.setDword(sharedDllsKey, otherShared, 4);

    fs.addFile(dataFile, "records");
    fs.addFile(exeFile, "MZ");
    fs.addFile(readme, "Read me.");
    fs.addFile(log, logText());
    fs.addFile(helpFile);
    fs.addFile(logo);
    fs.addFile(sampleData);
    fs.addFile(groupFolder + "\\MyApp.lnk");
    fs.addFile(groupFolder + "\\Read Me.lnk");

    fs.addFile(otherInstalldir + "\\other.exe", "MZ");
    fs.addFile(otherInstalldir + "\\ST6UNST.LOG");
    fs.addFile(otherGroupFolder + "\\Other.lnk");
    fs.addFile(sharedLib);
    fs.addFile(sharedControl);
    fs.addFile(sharedUnused);
    fs.addFile(otherShared);
}

} // namespace uninst::test::sample

namespace uninst::test {

SampleWorld::SampleWorld(bool installed) {
    if (installed)
        sample::install(registry, fs);
}

void SampleWorld::startUp(const std::string& cmdline) {
    uninst::startUp(state, registry, fs, noShell(), cmdline, list);
}

void SampleWorld::uninstall() {
    uninst::uninstall(state, registry, fs, noShell(), list, progress);
}

void SampleWorld::restart() {
    state = UninstallState{};
    list = RecordingList{};
    progress = RecordingProgress{};
}

} // namespace uninst::test
