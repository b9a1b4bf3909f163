#pragma once

#include <functional>

#include <QList>

#include "HttpDownloadManager.h"
#include "UpdateSignature.h"

// The background update: fetches the server's version file and, when it offers a newer application or data
// version, one archive; parks both in Update/ for the separate updater, the archive first and the version file
// only once the archive is parked. Nothing is installed here.
//
// What proves an update: with trusted keys installed, the version file's signature (update/ver.dat.sig) by one of
// them, and its signed expiry (VALID_UNTIL), so that an old file replayed by anybody on the way is refused; without
// keys, an https server (plain http only on this machine). Either way the archive must match the SHA-256 that the
// version file names, and is never longer than the size it names (APP_SIZE, DATA_SIZE; required when signed). A
// refused update is one log line, parks nothing, and is tried again next week. An offer of a version older than
// one offered before is logged.
class CUpdateManager : public FCHttpDownloadManager
{
public:
    // Shows a message ("ver.dat升级失败!" ...) to the user; the control window gives a message box.
    using Notifier = std::function<void(const QString& text)>;

    CUpdateManager();
    // Aborts what still downloads; an archive's staging file goes with it.
    ~CUpdateManager() override;

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
    // An archive whose size the (unsigned) version file does not name is taken up to this size.
    static constexpr std::int64_t kArchiveCapWithoutSize = std::int64_t(1) << 30;
    // Overall deadlines: a version file within two minutes; an archive within half an hour plus the time it takes
    // at 16 KiB/s (a slow line), so that a server that keeps a transfer alive byte by byte still ends it.
    static constexpr int kVersionFileSeconds = 120;
    static constexpr int kArchiveBaseSeconds = 1800;
    static constexpr int kSlowestBytesPerSecond = 16 * 1024;
    // What "krel-catalogue sign" writes when not told otherwise.
    static constexpr int kDefaultValidDays = 14;

    // Whether a response may be stored: a 2xx status, a body that ended at the end of the data, and exactly the
    // announced number of bytes when a Content-Length came. An error page or a cut body is never parked.
    static bool IsCompleteResponse(const CResponseInfo& response, std::int64_t bytes);

private:
    QString ServerUrl(const char* path) const;
    void Fetch(const char* path, std::int64_t maxBytes, int deadlineSeconds, const QString& saveFile = QString());
    void Refuse(const QString& why);
    void DropStaged();
    void UseVersionFile();
    bool Stage(FCHttpDownload* task, const QString& stagingName, QString* stagingPath);
    bool Park(const QString& stagingPath, const QString& parkedName, const char* failureText);
    void ParkVersionFile();
    void CompareVersions(const QString& versionFile);
    // Logs an offer older than one seen before, and remembers the newest offers.
    void NoteOfferedVersions(const QString& versionFile);

    int m_nState = 0;
    int m_bAppNewer = 0;
    int m_bDataNewer = 0;
    QString m_strServer;
    QString m_strStagedVersion; // temp/ver.dat while its archive downloads
    QString m_strStagedSignature; // temp/ver.dat.sig likewise, when keys are trusted
    UpdateSignature::TrustedKeySet m_keys; // read when the update starts
    Notifier m_notify;
};

// Whether an update server may be used without a trusted key: https, or http to this machine (for tests).
bool IsSecureUpdateServer(const QString& address);
