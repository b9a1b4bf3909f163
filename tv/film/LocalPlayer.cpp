#include "LocalPlayer.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QStringList>

bool HasFilmExtension(const QString& name)
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
    return kExtensions.contains(QFileInfo(name).suffix().toLower());
}

bool IsPlayableFile(const QString& path)
{
    return QFileInfo(path).isFile() && HasFilmExtension(path);
}

QString NextPlayableFile(const QString& path)
{
    const QFileInfo film(path);
    // As the local movies list a folder.
    QDirIterator it(film.absolutePath(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    bool passed = false;
    while (it.hasNext()) {
        const QString entry = it.next();
        if (passed && IsPlayableFile(entry))
            return entry;
        passed = passed || QFileInfo(entry) == film;
    }
    return QString();
}
