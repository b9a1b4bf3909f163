#pragma once

#include <cstdint>
#include <string_view>

#include <QStringView>

// Forgiving base-10 conversion as C's wcstol does it: leading white space skipped, optional sign, stop at the
// first non-digit, 0 when there is no digit, values beyond the 32-bit range clamped to the nearest limit.
std::int32_t ParseDecimal(QStringView text);
std::int32_t ParseDecimal(std::wstring_view text);
