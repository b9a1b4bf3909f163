#pragma once

#include <map>
#include <memory>
#include <string>

// The version file: a small INI document read byte by byte (each byte becomes the character of the same code),
// made of sections holding keys. Section and key names compare with ASCII case folding only, after blanks and
// tabs at both ends are removed.

struct CIniNameLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const;
};

class CIniSection;

class CIniKey
{
public:
    CIniKey(CIniSection* section, std::wstring name)
        : m_pSection(section)
        , m_strName(std::move(name))
    {
    }

    CIniSection* GetSection() const { return m_pSection; }
    const std::wstring& GetName() const { return m_strName; }
    std::wstring GetValue() const { return m_strValue; }
    void SetValue(const std::wstring& value) { m_strValue = value; }

private:
    CIniSection* m_pSection;
    std::wstring m_strName;
    std::wstring m_strValue;
};

class CIniDocument;

class CIniSection
{
public:
    CIniSection(CIniDocument* document, std::wstring name)
        : m_pDocument(document)
        , m_strName(std::move(name))
    {
    }

    CIniDocument* GetDocument() const { return m_pDocument; }
    const std::wstring& GetName() const { return m_strName; }
    CIniKey* GetKey(const std::wstring& name) const;
    CIniKey* AddKey(const std::wstring& name);
    std::size_t KeyCount() const { return m_keys.size(); }

private:
    CIniDocument* m_pDocument;
    std::wstring m_strName;
    std::map<std::wstring, std::unique_ptr<CIniKey>, CIniNameLess> m_keys;
};

class CIniDocument
{
public:
    CIniDocument() = default;
    CIniDocument(const CIniDocument&) = delete;
    CIniDocument& operator=(const CIniDocument&) = delete;

    // Reads the file at path (a UTF-8 file-system path). Returns false, leaving the document as it was, when the
    // file cannot be opened. Without merge the document is emptied first.
    bool LoadFile(const std::string& path, bool merge = false);
    // Reads already loaded bytes as LoadFile reads a file's content.
    void LoadBytes(const char* data, std::size_t size, bool merge = false);

    CIniSection* GetSection(const std::wstring& name) const;
    CIniSection* AddSection(const std::wstring& name);
    void Clear() { m_sections.clear(); }
    std::size_t SectionCount() const { return m_sections.size(); }

private:
    void ParseLine(std::wstring& line, CIniSection*& current);

    std::map<std::wstring, std::unique_ptr<CIniSection>, CIniNameLess> m_sections;
};
