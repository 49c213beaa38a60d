#include "platform/text_encoding.h"

#include <windows.h>

#include <climits>
#include <stdexcept>

namespace uninst::text {

namespace {

// The conversion functions take int lengths; nothing the program handles comes
// close, but a silent truncation would corrupt text, so refuse instead.
int checkedLength(std::size_t size) {
    if (size > static_cast<std::size_t>(INT_MAX))
        throw std::length_error("text too long to convert");
    return static_cast<int>(size);
}

void appendMultiToWide(std::wstring& out, std::string_view in, UINT codePage) {
    if (in.empty())
        return;
    const int inLength = checkedLength(in.size());
    const int needed = MultiByteToWideChar(codePage, 0, in.data(), inLength, nullptr, 0);
    if (needed <= 0)
        return;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(needed));
    MultiByteToWideChar(codePage, 0, in.data(), inLength, out.data() + start, needed);
}

// A character the code page has no place for becomes the default character,
// never the system's nearest look-alike: a name spelt with "a" and a macron
// must not turn into another application's name spelt with a plain "a".
void appendWideToMulti(std::string& out, std::wstring_view in, UINT codePage) {
    if (in.empty())
        return;
    const int inLength = checkedLength(in.size());
    const DWORD flags = WC_NO_BEST_FIT_CHARS;
    const int needed =
        WideCharToMultiByte(codePage, flags, in.data(), inLength, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return;
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(needed));
    WideCharToMultiByte(codePage, flags, in.data(), inLength, out.data() + start, needed, nullptr,
                        nullptr);
}

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

} // namespace

// Listing a large tree converts every name it meets, and nearly all of them
// are ASCII: copy those directly, and convert the rest in one pass into room
// for the worst case rather than asking for the length first.
void appendWide(std::wstring& out, std::string_view utf8) {
    if (isAscii(utf8)) {
        out.append(utf8.begin(), utf8.end());
        return;
    }
    const std::size_t start = out.size();
    out.resize(start + utf8.size());
    const int written = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), checkedLength(utf8.size()),
                                            out.data() + start, checkedLength(utf8.size()));
    out.resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
}

void appendFromWide(std::string& out, std::wstring_view wide) {
    bool ascii = true;
    for (wchar_t c : wide) {
        if (c >= 0x80) {
            ascii = false;
            break;
        }
    }
    const std::size_t start = out.size();
    if (ascii) {
        out.resize(start + wide.size());
        for (std::size_t i = 0; i < wide.size(); ++i)
            out[start + i] = static_cast<char>(wide[i]);
        return;
    }
    const std::size_t room = wide.size() * 3;
    out.resize(start + room);
    const int written =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), checkedLength(wide.size()), out.data() + start,
                            checkedLength(room), nullptr, nullptr);
    out.resize(start + static_cast<std::size_t>(written > 0 ? written : 0));
}

std::wstring toWide(std::string_view utf8) {
    std::wstring out;
    appendWide(out, utf8);
    return out;
}

std::string fromWide(std::wstring_view wide) {
    std::string out;
    appendFromWide(out, wide);
    return out;
}

// ASCII is the same in UTF-8 and in every ANSI code page Windows uses, and it
// is nearly all the text the registry carries, so skip the round trip.
std::string toAnsi(std::string_view utf8) {
    if (isAscii(utf8))
        return std::string(utf8);
    std::wstring wide = toWide(utf8);
    std::string out;
    appendWideToMulti(out, wide, CP_ACP);
    return out;
}

std::string fromAnsi(std::string_view ansi) {
    if (isAscii(ansi))
        return std::string(ansi);
    std::wstring wide;
    appendMultiToWide(wide, ansi, CP_ACP);
    return fromWide(wide);
}

} // namespace uninst::text
