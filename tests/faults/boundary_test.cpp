// What reaches the platform. The system reads names and paths only up to a
// NUL; the in-memory registry and file system take it as an ordinary
// character, so these tests look at the calls themselves: a name cut short
// would act on another file, folder or key.

#include "engine/run.h"
#include "tests/faults/faulty_ports.h"
#include "tests/support/sample_app.h"
#include "tests/support/text_helpers.h"

#include <gtest/gtest.h>

#include <string>

namespace uninst::test {
namespace {

namespace s = sample;

// A log without a mark that holds NULs is refused unread, but one with a mark
// is read in its encoding, NUL characters and all.
std::string marked(const std::string& text) {
    return "\xFF\xFE" + utf16(text);
}

// A group "<NUL>Other" would be the start-menu root itself.
TEST(PathsReachingTheFileSystem, NeverHoldANulWhateverTheLogSays) {
    for (const std::string& group : {std::string("\0Other", 6), std::string("My\0App", 6)}) {
        SampleWorld w;
        w.fs.addFile(s::log, marked(s::lines({"ACTION: ShellLink: \"" + group + "\",\"x\""})));
        RecordingFileSystem fs(w.fs);
        uninst::startUp(w.state, w.registry, fs, noShell(), s::exe, w.list);
        uninst::uninstall(w.state, w.registry, fs, noShell(), w.list, w.progress);
        for (const std::string& call : fs.history())
            EXPECT_EQ(call.find('\0'), std::string::npos) << call;
        EXPECT_TRUE(w.fs.exists("C:\\WINDOWS\\Start Menu\\Programs\\Other"));
    }
}

// A shared path "<NUL>x" would ask for the deletion of the SharedDLLs key
// itself; one with text before the NUL names the value before it.
TEST(NamesReachingTheRegistry, NeverHoldANulWhateverTheLogSays) {
    SampleWorld w;
    w.fs.addFile(s::log, marked(s::lines({
                             std::string("ACTION: SystemFile: \"\0x\"", 24),
                             std::string("ACTION: DllSelfRegister: \"\0\"", 28),
                             "ACTION: SystemFile: \"" + s::sharedLib + std::string("\0old\"", 5),
                         })));
    FaultyRegistry registry(w.registry);
    uninst::startUp(w.state, registry, w.fs, noShell(), s::exe, w.list);
    uninst::uninstall(w.state, registry, w.fs, noShell(), w.list, w.progress);
    for (const std::string& call : registry.history())
        EXPECT_EQ(call.find('\0'), std::string::npos) << call;
    EXPECT_TRUE(w.registry.keyExists(s::sharedDllsKey));
    EXPECT_EQ(w.registry.dword(s::sharedDllsKey, s::sharedLib), 2u);
}

} // namespace
} // namespace uninst::test
