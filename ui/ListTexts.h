// The texts the main window derives from file names and file facts: the name shown in the
// list, the extension, and the Time and Size columns.
// Paths use the platform's separator ('/' here).
#pragma once

#include <QString>

#include <cstdint>

namespace listtexts {

constexpr QChar kSeparator = QLatin1Char('/');

// The text after the last separator; the whole path when it has none or its only separator is
// its first character.
QString FileName(const QString& path);

// The text after the last '.'; empty when the path has no '.' after its first character.
QString Extension(const QString& path);

// "%02d:%02d" of seconds / 60 and seconds % 60; minutes are not capped. A negative count
// (a file whose length could not be read) shows "--:--". The tool's --probe prints the same.
QString PlayTime(int64_t seconds);

// "%d KB" of the byte count divided by 1024, remainder dropped.
QString SizeText(int64_t bytes);

} // namespace listtexts
