// The version file: parse, look the two keys up, and merge a second time.
#include "update/IniDocument.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    CIniDocument doc;
    doc.LoadBytes(reinterpret_cast<const char*>(data), size);
    if (CIniSection* main = doc.GetSection(L"Main")) {
        if (CIniKey* key = main->GetKey(L"APP_VER"))
            (void)key->GetValue();
        (void)main->GetKey(L"DATA_VER");
    }
    const std::size_t sections = doc.SectionCount();
    doc.LoadBytes(reinterpret_cast<const char*>(data), size, true);
    if (doc.SectionCount() != sections)
        __builtin_trap(); // merging the same text again adds no section
    return 0;
}
