#pragma once

#include <functional>

#include "HttpDownloadManager.h"

// The background update: fetches the server's version file and, when it offers a newer application or data
// version, one archive; parks both in Update/ for the separate updater, the archive first and the version file
// only once the archive is parked. Nothing is installed here.
class CUpdateManager : public FCHttpDownloadManager
{
public:
    // Shows a message ("ver.dat升级失败!" ...) to the user; the control window gives a message box.
    using Notifier = std::function<void(const QString& text)>;

    CUpdateManager();

    void SetNotifier(Notifier notifier) { m_notify = std::move(notifier); }
    // Starts the update in state 0 when the settings name an update server; otherwise nothing.
    void StartUpdate();
    int State() const { return m_nState; }
    bool AppNewer() const { return m_bAppNewer; }
    bool DataNewer() const { return m_bDataNewer; }

    void OnConnected(FCHttpDownload* task) override;
    void OnFinished(FCHttpDownload* task) override;

    // Whether a response may be stored: a 2xx status, a body that ended at the end of the data, and exactly the
    // announced number of bytes when a Content-Length came. An error page or a cut body is never parked.
    static bool IsCompleteResponse(const CResponseInfo& response, int bytes);

private:
    QString ServerUrl(const char* path) const;
    bool Stage(FCHttpDownload* task, const QString& stagingName, QString* stagingPath);
    bool Park(const QString& stagingPath, const QString& parkedName, const char* failureText);
    void ParkVersionFile();
    void CompareVersions(const QString& versionFile);

    int m_nState = 0;
    int m_bAppNewer = 0;
    int m_bDataNewer = 0;
    QString m_strServer;
    QString m_strStagedVersion; // temp/ver.dat while its archive downloads
    Notifier m_notify;
};

// Moves from to to without ever replacing an existing file. False when to exists or the move fails.
bool MoveNoReplace(const QString& from, const QString& to);
