#pragma once

#include "DownloadMessageQueue.h"
#include "HttpDownload.h"

// Creates download tasks, routes their messages to OnConnected / OnFinished on the GUI thread, and deletes each
// task right after its OnFinished. Destroying the manager aborts and deletes every task still running.
class FCHttpDownloadManager : public FIDownloadMessageQueue
{
public:
    FCHttpDownloadManager() = default;
    ~FCHttpDownloadManager() override = default;

    // A GET of url with the default request settings; returns the new task id (1, 2, 3 ...).
    int AddDownload(const QString& url);
    int AddDownloadTask(const CRequestInfo& request);
    int FindTaskIndex(int taskId) const;
    void DeleteTask(int taskId);
    int TaskCount() const { return m_tasks.GetObjectCount(); }

    void OnDownloadMessage(int type, int taskId) override;
    virtual void OnConnected(FCHttpDownload* task);
    virtual void OnFinished(FCHttpDownload* task);

    // The user agent of the program's requests.
    static QString DefaultUserAgent();

protected:
    PCL_Interface_Composite<FCHttpDownload>& Tasks() { return m_tasks; }

private:
    int m_nTaskCounter = 0;
    // Declared last: destroyed first, so running tasks are aborted before the queue goes.
    PCL_Interface_Composite<FCHttpDownload> m_tasks;
};
