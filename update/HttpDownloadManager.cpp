#include "HttpDownloadManager.h"

QString FCHttpDownloadManager::DefaultUserAgent()
{
    return QStringLiteral("Mozilla/5.0 (X11; Linux x86_64) krel/1.0");
}

int FCHttpDownloadManager::AddDownload(const QString& url)
{
    CRequestInfo request;
    request.strUrl = url;
    request.strUserAgent = DefaultUserAgent();
    return AddDownloadTask(request);
}

int FCHttpDownloadManager::AddDownloadTask(const CRequestInfo& request)
{
    ++m_nTaskCounter;
    m_tasks.AddObject(new FCHttpDownload(request, m_nTaskCounter, this), -1);
    return m_nTaskCounter;
}

int FCHttpDownloadManager::FindTaskIndex(int taskId) const
{
    for (int i = 0; i < m_tasks.GetObjectCount(); ++i)
        if (m_tasks.GetObject(i)->GetTaskID() == taskId)
            return i;
    return -1;
}

void FCHttpDownloadManager::DeleteTask(int taskId)
{
    const int index = FindTaskIndex(taskId);
    if (index >= 0)
        m_tasks.RemoveObject(index);
}

void FCHttpDownloadManager::OnDownloadMessage(int type, int taskId)
{
    const int index = FindTaskIndex(taskId);
    if (index < 0)
        return;
    FCHttpDownload* task = m_tasks.GetObject(index);
    if (type == DOWNLOAD_MSG_CONNECTED) {
        OnConnected(task);
    } else if (type == DOWNLOAD_MSG_FINISHED) {
        OnFinished(task);
        // Looked up again by id: the callback may have added tasks.
        DeleteTask(taskId);
    }
}

void FCHttpDownloadManager::OnConnected(FCHttpDownload*) { }

void FCHttpDownloadManager::OnFinished(FCHttpDownload*) { }
