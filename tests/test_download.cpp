#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>

#include <gtest/gtest.h>

#include "support/HttpServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "update/HttpDownloadManager.h"

namespace
{

// A manager that records every callback and keeps the bytes of each finished task.
class RecordingManager : public FCHttpDownloadManager
{
public:
    struct Event {
        int type;
        int taskId;
        bool operator==(const Event&) const = default;
    };
    std::vector<Event> events;
    std::map<int, QByteArray> bodies;
    std::map<int, CResponseInfo> responses;
    std::map<int, int> capacities;
    std::map<int, int> capacitiesAfterTake;
    std::function<void(FCHttpDownload*)> onFinished;

    void OnConnected(FCHttpDownload* task) override { events.push_back({ 0, task->GetTaskID() }); }
    void OnFinished(FCHttpDownload* task) override
    {
        events.push_back({ 1, task->GetTaskID() });
        capacities[task->GetTaskID()] = task->ReceiveCapacity();
        const CReceivedData data = task->TakeReceivedData();
        bodies[task->GetTaskID()] = QByteArray(data.data(), data.count());
        if (data.count() > 0) {
            EXPECT_EQ(data.data()[data.count()], 0);
            EXPECT_EQ(data.data()[data.count() + 1], 0);
        }
        capacitiesAfterTake[task->GetTaskID()] = task->ReceiveCapacity();
        EXPECT_EQ(task->TakeReceivedData().count(), 0); // nothing new the second time
        responses[task->GetTaskID()] = task->Response();
        if (onFinished)
            onFinished(task);
    }
    bool finished(int id) const { return bodies.count(id) > 0; }
};

using Ev = RecordingManager::Event;

class Download : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(http.IsRunning()); }
    TempMachine machine;
    HttpServer http { machine.root() };
};

QByteArray pattern(int n)
{
    QByteArray b;
    b.reserve(n);
    for (int i = 0; i < n; ++i)
        b.append(static_cast<char>(i % 256));
    return b;
}

} // namespace

TEST_F(Download, UnreachableServerStillReportsBothSteps)
{
    QTcpServer closed;
    closed.listen(QHostAddress::LocalHost);
    const quint16 port = closed.serverPort();
    closed.close(); // nothing listens there now
    RecordingManager m;
    const int id = m.AddDownload(QStringLiteral("http://127.0.0.1:%1/x").arg(port));
    EXPECT_EQ(id, 1);
    ASSERT_TRUE(WaitFor([&] { return m.finished(id); }));
    EXPECT_EQ(m.events, (std::vector<Ev> { { 0, 1 }, { 1, 1 } }));
    EXPECT_TRUE(m.bodies[id].isEmpty());
    EXPECT_EQ(m.responses[id].nStatusCode, 0);
    EXPECT_EQ(m.responses[id].nReadResult, 0);
    EXPECT_EQ(m.TaskCount(), 0); // deleted right after its callback
}

TEST_F(Download, BodiesAtTheBufferBoundary)
{
    RecordingManager m;
    const int exact = m.AddDownload(http.Url(QStringLiteral("bytes/131072")));
    const int over = m.AddDownload(http.Url(QStringLiteral("bytes/131073")));
    EXPECT_EQ(over, 2);
    ASSERT_TRUE(WaitFor([&] { return m.finished(exact) && m.finished(over); }));
    EXPECT_EQ(m.bodies[exact], pattern(131072));
    EXPECT_EQ(m.capacities[exact], 131072);
    EXPECT_EQ(m.bodies[over], pattern(131073));
    EXPECT_EQ(m.capacities[over], 262144);
    EXPECT_EQ(m.capacitiesAfterTake[over], 262144); // taking the bytes keeps the capacity
    EXPECT_EQ(m.responses[over].nStatusCode, 200);
    EXPECT_EQ(m.responses[over].nContentLength, 131073);
    EXPECT_EQ(m.responses[over].nReadResult, 1);
    // Each task's connected message comes before its finished one.
    for (int id : { exact, over }) {
        const auto c = std::find(m.events.begin(), m.events.end(), Ev { 0, id });
        const auto f = std::find(m.events.begin(), m.events.end(), Ev { 1, id });
        EXPECT_LT(c, f);
    }
}

TEST_F(Download, RequestHeadersAndResponseFields)
{
    RecordingManager m;
    CRequestInfo request;
    request.strUrl = http.Url(QStringLiteral("echo"));
    request.strUserAgent = QStringLiteral("krel-test/1");
    request.nResumeOffset = 1000;
    request.strHeaders = QStringLiteral("X-One: 1\r\nX-Two: 2\r\n");
    const int id = m.AddDownloadTask(request);
    ASSERT_TRUE(WaitFor([&] { return m.finished(id); }));
    const QByteArray echoed = m.bodies[id];
    EXPECT_TRUE(echoed.contains("User-Agent: krel-test/1")) << echoed.toStdString();
    const qsizetype range = echoed.indexOf("Range: bytes=1000-\n");
    ASSERT_GE(range, 0) << echoed.toStdString();
    EXPECT_LT(range, echoed.indexOf("X-One: 1"));
    EXPECT_LT(echoed.indexOf("X-One: 1"), echoed.indexOf("X-Two: 2"));
    EXPECT_TRUE(echoed.contains("Cache-Control: no-cache"));
    EXPECT_TRUE(echoed.contains("Pragma: no-cache"));
    EXPECT_EQ(m.responses[id].strLastModified, QStringLiteral("Tue, 08 Dec 2026 10:00:00 GMT"));
    EXPECT_TRUE(m.responses[id].strServer.startsWith(QStringLiteral("SimpleHTTP")));

    // A redirect is followed; the record describes the final response.
    const int moved = m.AddDownload(http.Url(QStringLiteral("redirect?to=/bytes/10")));
    ASSERT_TRUE(WaitFor([&] { return m.finished(moved); }));
    EXPECT_EQ(m.responses[moved].nStatusCode, 200);
    EXPECT_EQ(m.bodies[moved].size(), 10);
}

TEST_F(Download, ErrorsAndCutBodies)
{
    RecordingManager m;
    const int error = m.AddDownload(http.Url(QStringLiteral("status/404")));
    const int cut = m.AddDownload(http.Url(QStringLiteral("truncate/1000")));
    ASSERT_TRUE(WaitFor([&] { return m.finished(error) && m.finished(cut); }));
    EXPECT_EQ(m.responses[error].nStatusCode, 404);
    EXPECT_EQ(m.bodies[error], QByteArray("<html>error page</html>"));
    EXPECT_EQ(m.responses[cut].nReadResult, 0);
    EXPECT_EQ(m.bodies[cut].size(), 500);
}

TEST_F(Download, DeletingAStalledTaskAbortsPromptly)
{
    for (const char* path : { "stall", "never" }) {
        RecordingManager m;
        const int id = m.AddDownload(http.Url(QString::fromLatin1(path)));
        WaitFor([] { return false; }, 600);
        QElapsedTimer t;
        t.start();
        m.DeleteTask(id);
        EXPECT_LT(t.elapsed(), 1500) << path;
        EXPECT_EQ(m.TaskCount(), 0);
    }
    // The manager's destruction aborts what still runs.
    QElapsedTimer t;
    t.start();
    {
        RecordingManager m;
        m.AddDownload(http.Url(QStringLiteral("stall")));
        m.AddDownload(http.Url(QStringLiteral("never")));
        WaitFor([] { return false; }, 300);
    }
    EXPECT_LT(t.elapsed(), 300 + 1500);
}

// The request's limits end a transfer on their own, as a failed read: a body longer than the cap (announced, or
// sent without a length: chunked, or ended by closing), a server that goes silent mid-body or never answers, one
// that sends a byte now and then past the overall deadline, a redirect away from https.
TEST_F(Download, LimitsEndATransfer)
{
    struct Case {
        const char* path;
        std::int64_t maxBytes;
        bool httpsRedirectsOnly;
        int deadlineSeconds = 0;
    };
    RecordingManager m;
    for (const Case& c : { Case { "bytes/100000", 65536, false }, Case { "truncate/200000", 65536, false },
                           Case { "unsized/100000", 65536, false }, Case { "chunked/100000", 65536, false },
                           Case { "stall", 0, false }, Case { "never", 0, false }, Case { "trickle/600", 0, false, 2 },
                           Case { "redirect?to=/bytes/10", 0, true } }) {
        CRequestInfo request;
        request.strUrl = http.Url(QString::fromLatin1(c.path));
        request.nMaxBytes = c.maxBytes;
        request.bHttpsRedirectsOnly = c.httpsRedirectsOnly;
        request.nStallSeconds = 1;
        request.nDeadlineSeconds = c.deadlineSeconds;
        const int id = m.AddDownloadTask(request);
        EXPECT_TRUE(WaitFor([&] { return m.finished(id); }, 20000)) << c.path;
        EXPECT_EQ(m.responses[id].nReadResult, 0) << c.path;
        EXPECT_LE(m.bodies[id].size(), c.maxBytes > 0 ? c.maxBytes : c.deadlineSeconds > 0 ? 599 : 10) << c.path;
    }
}

// A body saved to a file arrives there as it comes, not in memory; a cap still ends it.
TEST_F(Download, BodiesSavedToAFile)
{
    RecordingManager m;
    CRequestInfo request;
    request.strUrl = http.Url(QStringLiteral("bytes/300000"));
    request.strSaveFile = machine.root() + QStringLiteral("/whole");
    const int whole = m.AddDownloadTask(request);
    request.strUrl = http.Url(QStringLiteral("unsized/300000"));
    request.strSaveFile = machine.root() + QStringLiteral("/capped");
    request.nMaxBytes = 100000;
    const int capped = m.AddDownloadTask(request);
    ASSERT_TRUE(WaitFor([&] { return m.finished(whole) && m.finished(capped); }, 20000));
    EXPECT_EQ(m.responses[whole].nReadResult, 1);
    EXPECT_EQ(m.responses[whole].nBytesReceived, 300000);
    EXPECT_TRUE(m.bodies[whole].isEmpty());
    EXPECT_EQ(ReadFile(machine.root() + QStringLiteral("/whole")), pattern(300000));
    EXPECT_EQ(m.responses[capped].nReadResult, 0);
    EXPECT_LE(QFileInfo(machine.root() + QStringLiteral("/capped")).size(), 100000);
}

// Through a proxy's tunnel the record is the server's response, never the proxy's "200 Connection established":
// here the server speaks no TLS, so there is no response at all, and the failure is not reported as a 200.
TEST_F(Download, ProxyTunnelAnswerIsNotTheResponse)
{
    RecordingManager m;
    CRequestInfo request;
    request.strUrl = QStringLiteral("https://127.0.0.1:%1/bytes/10").arg(http.Port());
    request.strProxyHost = QStringLiteral("127.0.0.1");
    request.nProxyPort = http.Port();
    const int id = m.AddDownloadTask(request);
    ASSERT_TRUE(WaitFor([&] { return m.finished(id); }, 20000));
    EXPECT_EQ(m.responses[id].nStatusCode, 0);
    EXPECT_EQ(m.responses[id].nReadResult, 0);
}

// The queue: order within one dispatch, deleted tasks, nested dispatch.
namespace
{

class QueueProbe : public FIDownloadMessageQueue
{
public:
    std::vector<std::pair<int, int>> seen;
    std::function<void(int, int)> hook;
    void OnDownloadMessage(int type, int taskId) override
    {
        seen.emplace_back(type, taskId);
        if (hook)
            hook(type, taskId);
    }
};

} // namespace

TEST(DownloadQueue, OrderAndNestedDispatch)
{
    QueueProbe q;
    q.PostDownloadMessage(0, 1);
    q.PostDownloadMessage(1, 1);
    q.PostDownloadMessage(0, 2);
    EXPECT_TRUE(q.seen.empty());
    ASSERT_TRUE(WaitFor([&] { return q.seen.size() == 3; }));
    EXPECT_EQ(q.seen, (std::vector<std::pair<int, int>> { { 0, 1 }, { 1, 1 }, { 0, 2 } }));

    // A callback runs a nested loop (as a message box does) while more messages arrive: the nested dispatch
    // returns at once and the outer one delivers them, in order, before it ends.
    q.seen.clear();
    bool nested = false;
    q.hook = [&](int type, int) {
        if (type != 7 || nested)
            return;
        nested = true;
        q.PostDownloadMessage(8, 1);
        q.PostDownloadMessage(9, 1);
        WaitFor([] { return false; }, 200); // the poll timer fires inside
        EXPECT_EQ(q.seen.size(), 1u);
    };
    q.PostDownloadMessage(7, 1);
    ASSERT_TRUE(WaitFor([&] { return q.seen.size() == 3; }));
    EXPECT_EQ(q.seen, (std::vector<std::pair<int, int>> { { 7, 1 }, { 8, 1 }, { 9, 1 } }));
}

TEST(DownloadQueue, ManagerIgnoresMessagesForDeletedTasksAndCountsOn)
{
    RecordingManager m;
    m.OnDownloadMessage(0, 42);
    m.OnDownloadMessage(1, 42);
    EXPECT_TRUE(m.events.empty());

    TempMachine machine;
    HttpServer http(machine.root());
    int added = 0;
    m.onFinished = [&](FCHttpDownload* task) {
        if (task->GetTaskID() == 1)
            added = m.AddDownload(http.Url(QStringLiteral("bytes/5")));
    };
    m.AddDownload(http.Url(QStringLiteral("bytes/3")));
    ASSERT_TRUE(WaitFor([&] { return m.finished(2); }));
    EXPECT_EQ(added, 2);
    EXPECT_EQ(m.bodies[2].size(), 5);
    EXPECT_EQ(m.TaskCount(), 0);
}

TEST(DownloadList, AddObjectIndexRules)
{
    PCL_Interface_Composite<int> list;
    int* a = new int(1);
    int* b = new int(2);
    int* c = new int(3);
    int* d = new int(4);
    EXPECT_TRUE(list.AddObject(a));
    EXPECT_FALSE(list.AddObject(a)); // already held
    EXPECT_TRUE(list.AddObject(b, 1)); // index == count appends
    EXPECT_FALSE(list.AddObject(c, 3)); // count + 1: nothing
    EXPECT_TRUE(list.AddObject(c, 0));
    EXPECT_EQ(list.GetObjectCount(), 3);
    EXPECT_EQ(list.GetObject(0), c);
    EXPECT_EQ(list.FindObject(b), 2);
    EXPECT_EQ(list.GetObject(3), nullptr);
    list.RemoveObject(5);
    list.RemoveObject(0);
    EXPECT_EQ(list.FindObject(a), 0);
    delete d; // never added; the list deletes the others
}

TEST(DownloadSpeed, RateArithmetic)
{
    EXPECT_EQ(FCHttpDownload::Rate(5000, 1000, 1000), 50000);
    EXPECT_EQ(FCHttpDownload::Rate(5000, 1000, 1250), 20000);
    // A wrapped tick counter: from near the top to just past zero.
    EXPECT_EQ(FCHttpDownload::Rate(1000, 4294967195u, 5), 1000 * 1000 / 105);
}
