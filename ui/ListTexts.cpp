#include "ui/ListTexts.h"

#include "engine/SourceFacts.h"

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
    return QString::fromStdString(SourceFacts::TimeText(seconds));
}

QString SizeText(int64_t bytes)
{
    return QString::fromStdString(SourceFacts::SizeText(bytes < 0 ? 0 : static_cast<uint64_t>(bytes)));
}

} // namespace listtexts
