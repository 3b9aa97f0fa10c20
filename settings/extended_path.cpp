#include "settings/extended_path.h"

namespace {

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool IsDriveLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

}  // namespace

std::wstring ExtendedLengthPath(const std::wstring &fullPath)
{
    const std::wstring &p = fullPath;
    // "\\?\..." and "\\.\..." are already names for the object manager.
    if (p.size() >= 4 && IsSeparator(p[0]) && IsSeparator(p[1]) && (p[2] == L'?' || p[2] == L'.') && IsSeparator(p[3]))
        return p;
    if (p.size() >= 3 && IsDriveLetter(p[0]) && p[1] == L':' && IsSeparator(p[2]))
        return L"\\\\?\\" + p;
    // "\\server\share\...": a server name must follow the two separators.
    if (p.size() >= 3 && IsSeparator(p[0]) && IsSeparator(p[1]) && !IsSeparator(p[2]))
        return L"\\\\?\\UNC\\" + p.substr(2);
    return p;
}
