#pragma once
// Encoding names to Windows code page numbers, and code pages to the charsets of glibc iconv.

#include <string_view>

namespace velunor::internal {

inline constexpr int kCodePageAnsi = 0;
inline constexpr int kCodePageUtf16Le = 1200;
inline constexpr int kCodePageUtf16Be = 1201;
inline constexpr int kCodePageUtf32Le = 12000;
inline constexpr int kCodePageUtf32Be = 12001;
inline constexpr int kCodePageUtf8 = 65001;
/// The charset the ANSI code page (936) is read and written as.
inline constexpr const char* kAnsiIconvName = "GB18030";

/// The code page of an encoding name, ASCII case ignored; a name beginning with "UTF-32"
/// (capitals) is UTF-32; kCodePageAnsi for an empty, unknown or 100-character name.
int CodePageFromCharsetName(std::u16string_view name);

/// The iconv charset for a code page; the ANSI charset for 0 and for code pages iconv lacks.
const char* IconvNameForCodePage(int codePage);

/// True for the UTF-16 and UTF-32 code pages, which no 8-bit conversion handles.
bool IsWideForm(int codePage);

} // namespace velunor::internal
