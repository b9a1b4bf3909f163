#include "IniDocument.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace
{

bool isBlankOrTab(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

std::wstring stripBlanks(const std::wstring& s)
{
    std::size_t b = 0;
    std::size_t e = s.size();
    while (b < e && isBlankOrTab(s[b]))
        ++b;
    while (e > b && isBlankOrTab(s[e - 1]))
        --e;
    return s.substr(b, e - b);
}

wchar_t foldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

} // namespace

bool CIniNameLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const wchar_t x = foldAscii(a[i]);
        const wchar_t y = foldAscii(b[i]);
        if (x != y)
            return x < y;
    }
    return a.size() < b.size();
}

CIniKey* CIniSection::GetKey(const std::wstring& name) const
{
    const auto it = m_keys.find(stripBlanks(name));
    return it == m_keys.end() ? nullptr : it->second.get();
}

CIniKey* CIniSection::AddKey(const std::wstring& name)
{
    const std::wstring stripped = stripBlanks(name);
    auto& slot = m_keys[stripped];
    if (!slot)
        slot = std::make_unique<CIniKey>(this, stripped);
    return slot.get();
}

CIniSection* CIniDocument::GetSection(const std::wstring& name) const
{
    const auto it = m_sections.find(stripBlanks(name));
    return it == m_sections.end() ? nullptr : it->second.get();
}

CIniSection* CIniDocument::AddSection(const std::wstring& name)
{
    const std::wstring stripped = stripBlanks(name);
    auto& slot = m_sections[stripped];
    if (!slot)
        slot = std::make_unique<CIniSection>(this, stripped);
    return slot.get();
}

bool CIniDocument::LoadFile(const std::string& path, bool merge)
{
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open())
        return false;
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    LoadBytes(bytes.data(), bytes.size(), merge);
    return true;
}

void CIniDocument::LoadBytes(const char* data, std::size_t size, bool merge)
{
    if (!merge)
        Clear();
    CIniSection* current = nullptr;
    std::wstring line;
    std::size_t i = 0;
    while (i < size) {
        line.clear();
        while (i < size && data[i] != '\n')
            line.push_back(static_cast<wchar_t>(static_cast<unsigned char>(data[i++])));
        if (i < size)
            ++i; // the line feed itself
        ParseLine(line, current);
    }
}

void CIniDocument::ParseLine(std::wstring& line, CIniSection*& current)
{
    std::size_t b = 0;
    while (b < line.size() && isBlankOrTab(line[b]))
        ++b;
    line.erase(0, b);
    while (!line.empty() && (line.back() == L'\n' || line.back() == L'\r'))
        line.pop_back();
    if (line.empty())
        return;

    if (line.front() == L'[') {
        std::size_t last = line.size();
        while (last > 0 && (isBlankOrTab(line[last - 1]) || line[last - 1] == L'\r' || line[last - 1] == L'\n'))
            --last;
        if (last >= 2 && line[last - 1] == L']') {
            current = AddSection(line.substr(1, last - 2));
            return;
        }
    }

    // A key line is tested before a comment: "#APP_VER=99" is a key named "#APP_VER".
    const std::size_t eq = line.find(L'=');
    if (eq != std::wstring::npos && eq > 0) {
        if (current)
            current->AddKey(line.substr(0, eq))->SetValue(line.substr(eq + 1));
        return;
    }
    // Comments ("#...") and everything else are ignored.
}
