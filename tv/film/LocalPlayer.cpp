#include "LocalPlayer.h"

#include <QFileInfo>
#include <QStringList>

bool IsPlayableFile(const QString& path)
{
    static const QStringList kExtensions = {
        QStringLiteral("mkv"),  QStringLiteral("mp4"),  QStringLiteral("m4v"),  QStringLiteral("avi"),
        QStringLiteral("mov"),  QStringLiteral("wmv"),  QStringLiteral("flv"),  QStringLiteral("webm"),
        QStringLiteral("mpg"),  QStringLiteral("mpeg"), QStringLiteral("ts"),   QStringLiteral("m2ts"),
        QStringLiteral("vob"),  QStringLiteral("ogv"),  QStringLiteral("3gp"),  QStringLiteral("rmvb"),
        QStringLiteral("rm"),   QStringLiteral("mp3"),  QStringLiteral("flac"), QStringLiteral("ogg"),
        QStringLiteral("wav"),  QStringLiteral("m4a"),  QStringLiteral("aac"),  QStringLiteral("wma"),
        QStringLiteral("opus"),
    };
    const QFileInfo info(path);
    return info.isFile() && kExtensions.contains(info.suffix().toLower());
}
