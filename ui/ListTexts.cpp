#include "ui/ListTexts.h"

namespace listtexts {

QString FileName(const QString& path)
{
    const qsizetype last = path.lastIndexOf(kSeparator);
    if (last <= 0)
        return path;
    return path.mid(last + 1);
}

QString Extension(const QString& path)
{
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return QString();
    return path.mid(dot + 1);
}

QString PlayTime(int64_t seconds)
{
    if (seconds < 0)
        return QStringLiteral("--:--");
    return QString::asprintf(
        "%02lld:%02lld", static_cast<long long>(seconds / 60), static_cast<long long>(seconds % 60));
}

QString SizeText(int64_t bytes)
{
    return QString::asprintf("%lld KB", static_cast<long long>(bytes < 0 ? 0 : bytes / 1024));
}

} // namespace listtexts
