// date.dat and Data<n>.dat as they come from disk: decode every record and every field.
#include <QByteArray>

#include "catalogue/DataFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const TypeRecord& r : ParseTypeFile(bytes))
        if (r.name.size() > 20)
            __builtin_trap();
    const CDataFileView view(bytes, kVideoRecordBytes);
    if (size >= 4 && static_cast<std::size_t>(view.size()) * kVideoRecordBytes > size - 4)
        __builtin_trap();
    for (int i = 0; i < view.size(); ++i) {
        (void)view.id(i);
        (void)view.value2(i);
        (void)view.value3(i);
        if (view.name(i).size() > 20)
            __builtin_trap();
    }
    return 0;
}
