// Reads a program's version the way Windows shows it and compares it with
// the release's: the fixed file and product versions, their texts, and the
// assembly version of the embedded manifest.
//
//   version_check.exe <program.exe> <a.b.c.d>
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/handles.h"

namespace {

using Module = uninst::ModuleHandle;

// Versions are plain ASCII; anything else shows as '?'.
std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text)
        out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::wstring quad(DWORD high, DWORD low) {
    return std::to_wstring(HIWORD(high)) + L"." + std::to_wstring(LOWORD(high)) + L"." +
           std::to_wstring(HIWORD(low)) + L"." + std::to_wstring(LOWORD(low));
}

int failures = 0;

void expect(const char* what, const std::wstring& expected, const std::wstring& got) {
    if (expected == got) {
        std::printf("%s: %s\n", what, narrow(got).c_str());
    } else {
        std::printf("FAIL %s: expected %s, got %s\n", what, narrow(expected).c_str(),
                    narrow(got).c_str());
        ++failures;
    }
}

std::wstring queryText(std::vector<BYTE>& block, const wchar_t* name) {
    wchar_t* text = nullptr;
    UINT length = 0;
    std::wstring path = std::wstring(L"\\StringFileInfo\\040904B0\\") + name;
    if (!VerQueryValueW(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length) ||
        text == nullptr)
        return L"(none)";
    return std::wstring(text, wcsnlen(text, length));
}

void checkVersionResource(const wchar_t* program, const std::wstring& expected) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(program, &ignored);
    std::vector<BYTE> block(size);
    if (size == 0 || !GetFileVersionInfoW(program, 0, size, block.data())) {
        std::printf("FAIL version resource: GetFileVersionInfoW failed (error %lu)\n",
                    GetLastError());
        ++failures;
        return;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        std::printf("FAIL version resource: no fixed file information\n");
        ++failures;
        return;
    }
    expect("file version", expected, quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS));
    expect("product version", expected, quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS));
    expect("FileVersion text", expected, queryText(block, L"FileVersion"));
    expect("ProductVersion text", expected, queryText(block, L"ProductVersion"));
}

void checkManifest(const wchar_t* program, const std::wstring& expected) {
    Module module(LoadLibraryExW(program, nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    HRSRC found = module ? FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST) : nullptr;
    HGLOBAL loaded = found ? LoadResource(module.get(), found) : nullptr;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : nullptr;
    if (data == nullptr) {
        std::printf("FAIL manifest: resource 1 not readable (error %lu)\n", GetLastError());
        ++failures;
        return;
    }
    // The program's own identity is the first assemblyIdentity; the ones
    // after it name the assemblies it depends on.
    std::string manifest(data, SizeofResource(module.get(), found));
    std::string::size_type identity = manifest.find("<assemblyIdentity");
    std::string::size_type version = manifest.find("version=\"", identity);
    std::string::size_type end = manifest.find('"', version + 9);
    std::wstring got = L"(none)";
    if (identity != std::string::npos && version != std::string::npos && end != std::string::npos)
        got = std::wstring(manifest.begin() + version + 9, manifest.begin() + end);
    expect("manifest assembly version", expected, got);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::printf("usage: version_check.exe <program.exe> <a.b.c.d>\n");
        return 2;
    }
    checkVersionResource(argv[1], argv[2]);
    checkManifest(argv[1], argv[2]);
    return failures == 0 ? 0 : 1;
}
