#include "platform/restart_manager.h"

#include "platform/system_library.h"
#include "platform/text_encoding.h"

#include <windows.h>

#include <restartmanager.h>

namespace uninst {

namespace {

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR[]);
using EndSession = DWORD(WINAPI*)(DWORD);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR[], UINT, RM_UNIQUE_PROCESS[], UINT,
                                         LPCWSTR[]);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO[], LPDWORD);

// One Restart Manager session, ended when it goes.
class Session {
public:
    Session(StartSession start, EndSession end) : end_(end) {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        started_ = start(&handle_, 0, key) == ERROR_SUCCESS;
    }
    ~Session() {
        if (started_)
            end_(handle_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    explicit operator bool() const { return started_; }
    DWORD get() const { return handle_; }

private:
    EndSession end_;
    DWORD handle_ = 0;
    bool started_ = false;
};

template <typename Function> Function load(const SystemLibrary& library, const char* name) {
    return reinterpret_cast<Function>(library.procedure(name));
}

} // namespace

std::vector<std::string> programsHolding(const std::string& path) {
    std::vector<std::string> names;
    const SystemLibrary library(L"rstrtmgr.dll");
    if (!library)
        return names;
    const auto start = load<StartSession>(library, "RmStartSession");
    const auto end = load<EndSession>(library, "RmEndSession");
    const auto registerResources = load<RegisterResources>(library, "RmRegisterResources");
    const auto getList = load<GetList>(library, "RmGetList");
    if (start == nullptr || end == nullptr || registerResources == nullptr || getList == nullptr)
        return names;

    const Session session(start, end);
    if (!session)
        return names;
    const std::wstring wide = text::toWide(path);
    LPCWSTR files[] = {wide.c_str()};
    if (registerResources(session.get(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS)
        return names;
    // The list can grow between the two calls; a few rounds settle it.
    std::vector<RM_PROCESS_INFO> found;
    for (int round = 0; round < 3; ++round) {
        UINT needed = 0;
        auto count = static_cast<UINT>(found.size());
        DWORD reasons = 0;
        const DWORD status = getList(session.get(), &needed, &count,
                                     found.empty() ? nullptr : found.data(), &reasons);
        if (status == ERROR_SUCCESS) {
            found.resize(count);
            break;
        }
        if (status != ERROR_MORE_DATA) {
            found.clear();
            break;
        }
        found.assign(needed, RM_PROCESS_INFO{});
    }
    for (const RM_PROCESS_INFO& process : found) {
        std::string name = text::fromWide(process.strAppName);
        if (!name.empty())
            names.push_back(std::move(name));
    }
    return names;
}

} // namespace uninst
