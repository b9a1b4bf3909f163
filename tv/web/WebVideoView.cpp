#include "WebVideoView.h"

#include <QFileInfo>
#include <QUrl>

#include "common/Log.h"
#include "common/Paths.h"

bool IsAllowedWebAddress(const QUrl& url, const QString& pagesDir)
{
    const QString scheme = url.scheme().toLower();
    if (url.isValid() && (scheme == QLatin1String("http") || scheme == QLatin1String("https")))
        return true;
    if (url == QUrl(QStringLiteral("about:blank")))
        return true;
    if (scheme != QLatin1String("file") || pagesDir.isEmpty() || !url.isLocalFile())
        return false;
    // A file of the installed pages: compared as real paths, so ".." and links cannot lead out of the folder.
    const QString pages = QFileInfo(pagesDir).canonicalFilePath();
    const QString file = QFileInfo(url.toLocalFile()).canonicalFilePath();
    return !pages.isEmpty() && !file.isEmpty() && file.startsWith(pages + QLatin1Char('/'));
}

bool MayOpenWebAddress(const QString& address)
{
    const QString pages = Paths::IsInstalled() ? Paths::InstalledShareDir() + QStringLiteral("pages") : QString();
    if (IsAllowedWebAddress(QUrl(address), pages))
        return true;
    qCWarning(lcTv).noquote() << "refused to open" << address.left(200)
                              << "(only http, https, about:blank and the installed pages)";
    return false;
}
