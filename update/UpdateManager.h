#pragma once

#include <functional>

#include <QList>

#include "HttpDownloadManager.h"

// The background update: fetches the server's version file and, when it offers a newer application or data
// version, one archive; parks both in Update/ for the separate updater, the archive first and the version file
// only once the archive is parked. Nothing is installed here.
//
// What proves an update: with trusted keys installed, the version file's signature (update/ver.dat.sig) by one of
// them; without, an https server (plain http only on this machine). Either way the archive must match the SHA-256
// that the version file names. A refused update is one log line, parks nothing, and is tried again next week.
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

    // Largest version file (and signature) taken; a longer body is refused unread.
    static constexpr int kVersionFileCap = 64 * 1024;

    // Whether a response may be stored: a 2xx status, a body that ended at the end of the data, and exactly the
    // announced number of bytes when a Content-Length came. An error page or a cut body is never parked.
    static bool IsCompleteResponse(const CResponseInfo& response, int bytes);

private:
    QString ServerUrl(const char* path) const;
    void Fetch(const char* path, std::int64_t maxBytes);
    void Refuse(const QString& why);
    void DropStaged();
    void UseVersionFile();
    bool Stage(FCHttpDownload* task, const QString& stagingName, QString* stagingPath);
    bool Park(const QString& stagingPath, const QString& parkedName, const char* failureText);
    void ParkVersionFile();
    void CompareVersions(const QString& versionFile);

    int m_nState = 0;
    int m_bAppNewer = 0;
    int m_bDataNewer = 0;
    QString m_strServer;
    QString m_strStagedVersion; // temp/ver.dat while its archive downloads
    QString m_strStagedSignature; // temp/ver.dat.sig likewise, when keys are trusted
    QList<QByteArray> m_keys; // the trusted public keys, read when the update starts
    Notifier m_notify;
};

// Whether an update server may be used without a trusted key: https, or http to this machine (for tests).
bool IsSecureUpdateServer(const QString& address);
