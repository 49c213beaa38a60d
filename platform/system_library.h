#pragma once

#include <string>

namespace uninst {

// The program runs as administrator and is often started from a folder
// anyone can write to, such as Downloads: a DLL dropped beside it must never
// be loaded in place of the system's own (DLL planting).

// Limits the process's DLL search to the system folder. Called first thing,
// before anything loads a DLL by name. False when the system refused.
bool restrictDllSearchToSystemFolder();

// A DLL of the system folder, loaded by name from there and nowhere else,
// for the DLLs outside the KnownDLLs that the loader would otherwise look for
// in the program's folder and the current folder first. Freed when the
// object goes.
class SystemLibrary {
public:
    // Loads `name` ("rstrtmgr.dll"); check with the bool operator.
    explicit SystemLibrary(const std::wstring& name);
    ~SystemLibrary();
    SystemLibrary(const SystemLibrary&) = delete;
    SystemLibrary& operator=(const SystemLibrary&) = delete;

    explicit operator bool() const { return module_ != nullptr; }

    // The address of an exported function, or null. The caller casts it to
    // the function's type.
    void* procedure(const char* name) const;

private:
    void* module_ = nullptr;
};

} // namespace uninst
