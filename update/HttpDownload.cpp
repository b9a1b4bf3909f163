#include "HttpDownload.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <system_error>

#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "CurlLibrary.h"
#include "DownloadMessageQueue.h"
#include "common/Log.h"

// ---- request ----------------------------------------------------------------------------------------------------

QStringList CRequestInfo::HeaderLines() const
{
    QStringList lines;
    if (nResumeOffset != 0)
        lines << QString::asprintf("Range: bytes=%d-", nResumeOffset);
    for (const QString& line : strHeaders.split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        lines << line;
    // The reload intent: every proxy and cache on the way must fetch a fresh copy.
    if (dwFlags & kFlagReload)
        lines << QStringLiteral("Cache-Control: no-cache") << QStringLiteral("Pragma: no-cache");
    return lines;
}

QString CRequestInfo::ProxyText() const
{
    return strProxyHost.isEmpty() ? QString() : QStringLiteral("%1:%2").arg(strProxyHost).arg(nProxyPort);
}

// ---- receive buffer ---------------------------------------------------------------------------------------------

FCHttpDownload::CReceiveBuffer::CReceiveBuffer()
    : m_pData(static_cast<char*>(std::malloc(kBufferStep)))
    , m_nCapacity(m_pData ? kBufferStep : 0)
{
}

FCHttpDownload::CReceiveBuffer::~CReceiveBuffer()
{
    std::free(m_pData);
}

bool FCHttpDownload::CReceiveBuffer::Append(const char* data, std::size_t n)
{
    std::lock_guard guard(m_lock);
    if (m_nLength + n > m_nCapacity) {
        std::size_t capacity = m_nCapacity;
        while (m_nLength + n > capacity)
            capacity += kBufferStep;
        if (capacity > static_cast<std::size_t>(INT32_MAX))
            return false; // the byte count is a 32-bit number: a larger body is a failed read
        char* grown = static_cast<char*>(std::realloc(m_pData, capacity));
        if (!grown)
            return false;
        m_pData = grown;
        m_nCapacity = capacity;
    }
    std::memcpy(m_pData + m_nLength, data, n);
    m_nLength += n;
    return true;
}

void FCHttpDownload::CReceiveBuffer::Reserve(std::size_t bytes)
{
    std::lock_guard guard(m_lock);
    // In whole steps, as the buffer grows anyway.
    const std::size_t wanted = (std::min(bytes, kMaxReserve) + kBufferStep - 1) / kBufferStep * kBufferStep;
    if (wanted <= m_nCapacity)
        return;
    if (char* grown = static_cast<char*>(std::realloc(m_pData, wanted))) {
        m_pData = grown;
        m_nCapacity = wanted;
    }
}

CReceivedData FCHttpDownload::CReceiveBuffer::Take()
{
    std::lock_guard guard(m_lock);
    const std::size_t count = m_nLength;
    if (count == 0)
        return {};
    // The filled block itself is handed over (with room for the two zero bytes), so the body is never copied, and
    // the buffer takes a fresh block of the same capacity. Only address space is taken for it until bytes arrive.
    char* fresh = static_cast<char*>(std::malloc(m_nCapacity));
    if (!fresh)
        return {};
    char* block = m_pData;
    if (count + 2 > m_nCapacity) {
        block = static_cast<char*>(std::realloc(m_pData, count + 2));
        if (!block) {
            std::free(fresh);
            return {};
        }
    }
    block[count] = 0;
    block[count + 1] = 0;
    m_pData = fresh;
    m_nLength = 0;
    return CReceivedData(block, static_cast<int>(count));
}

int FCHttpDownload::CReceiveBuffer::Capacity() const
{
    std::lock_guard guard(m_lock);
    return static_cast<int>(m_nCapacity);
}

// ---- speed meter ------------------------------------------------------------------------------------------------

int FCHttpDownload::Rate(std::int64_t bytes, std::uint32_t from, std::uint32_t to)
{
    std::int64_t elapsed = std::int64_t(to) - std::int64_t(from);
    if (elapsed < 0)
        elapsed = (std::int64_t(4294967295u) - from) + to;
    if (elapsed == 0)
        elapsed = 100;
    return static_cast<int>(static_cast<std::uint32_t>(bytes * 1000 / elapsed));
}

std::uint32_t FCHttpDownload::CCalculateSpeed::Now()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

FCHttpDownload::CCalculateSpeed::CCalculateSpeed()
    : m_nStart(Now())
    , m_nLastTick(m_nStart)
{
    StartTimer(1000);
}

void FCHttpDownload::CCalculateSpeed::AddBytes(std::int64_t n)
{
    std::lock_guard guard(m_lock);
    m_nSinceTick += n;
    m_nTotal += n;
}

void FCHttpDownload::CCalculateSpeed::End()
{
    std::lock_guard guard(m_lock);
    m_bEnded = true;
    if (m_nSpeed == 0)
        m_nSpeed = Rate(m_nSinceTick, m_nLastTick, Now());
}

void FCHttpDownload::CCalculateSpeed::OnTimer()
{
    std::lock_guard guard(m_lock);
    if (m_bEnded) {
        StopTimer();
        return;
    }
    const std::uint32_t now = Now();
    m_nSpeed = Rate(m_nSinceTick, m_nLastTick, now);
    m_nLastTick = now;
    m_nSinceTick = 0;
}

int FCHttpDownload::CCalculateSpeed::CurrentSpeed() const
{
    std::lock_guard guard(m_lock);
    return m_nSpeed;
}

// ---- the task ---------------------------------------------------------------------------------------------------

FCHttpDownload::FCHttpDownload(const CRequestInfo& request, int taskId, FIDownloadMessageQueue* owner)
    : m_nTaskId(taskId)
    , m_request(request)
    , m_pOwner(owner)
    , m_connectTimer(this, &FCHttpDownload::CheckConnected)
    , m_finishTimer(this, &FCHttpDownload::CheckFinished)
{
    m_connectTimer.StartTimer(kPollMs);
    try {
        m_worker = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
        // No worker: report both steps as failed instead of polling for a thread that never ends.
        m_bConnected = true;
        m_bFinished = true;
    }
}

FCHttpDownload::~FCHttpDownload()
{
    m_connectTimer.StopTimer();
    m_finishTimer.StopTimer();
    m_bAbort = true;
    {
        // A worker blocked on a stalled server wakes up at once; the progress callback then sees the flag.
        std::lock_guard guard(m_socketLock);
        if (m_nSocket >= 0)
            ::shutdown(m_nSocket, SHUT_RDWR);
    }
    if (m_worker.joinable())
        m_worker.join();
}

int FCHttpDownload::OnOpenSocket(void* selfPtr, int, curl_sockaddr* address)
{
    auto* self = static_cast<FCHttpDownload*>(selfPtr);
    std::lock_guard guard(self->m_socketLock);
    if (self->m_bAbort)
        return CURL_SOCKET_BAD;
    const int fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
    self->m_nSocket = fd;
    return fd;
}

int FCHttpDownload::OnCloseSocket(void* selfPtr, int socket)
{
    auto* self = static_cast<FCHttpDownload*>(selfPtr);
    std::lock_guard guard(self->m_socketLock);
    if (self->m_nSocket == socket)
        self->m_nSocket = -1;
    return ::close(socket);
}

CReceivedData FCHttpDownload::TakeReceivedData()
{
    return m_buffer.Take();
}

int FCHttpDownload::ReceiveCapacity() const
{
    return m_buffer.Capacity();
}

void FCHttpDownload::MarkConnected()
{
    if (m_bConnected)
        return;
    m_response = m_pending;
    m_bConnected = true;
}

std::size_t FCHttpDownload::OnHeader(char* data, std::size_t size, std::size_t count, void* selfPtr)
{
    auto* self = static_cast<FCHttpDownload*>(selfPtr);
    const std::size_t n = size * count;
    const QByteArray line = QByteArray(data, static_cast<qsizetype>(n)).trimmed();
    if (line.startsWith("HTTP/")) {
        // A new response (after a redirect or a 100 Continue): start its record afresh.
        self->m_pending = CResponseInfo();
        self->m_bLocationSeen = false;
        self->m_nBodyBytes = 0;
        if (self->m_nFile >= 0 && (::ftruncate(self->m_nFile, 0) != 0 || ::lseek(self->m_nFile, 0, SEEK_SET) != 0))
            return 0; // an earlier response's body cannot be undone: fail
        const QList<QByteArray> parts = line.split(' ');
        if (parts.size() > 1)
            self->m_pending.nStatusCode = parts[1].toInt();
        return n;
    }
    if (line.isEmpty()) {
        const int status = self->m_pending.nStatusCode;
        const bool redirected = status >= 300 && status < 400 && self->m_bLocationSeen;
        if (status >= 200 && !redirected) {
            self->MarkConnected();
            if (status < 300 && self->m_pending.bHasContentLength)
                self->m_buffer.Reserve(static_cast<std::size_t>(self->m_pending.nContentLength));
        }
        return n;
    }
    const qsizetype colon = line.indexOf(':');
    if (colon <= 0)
        return n;
    const QByteArray name = line.left(colon).trimmed().toLower();
    const QString value = QString::fromLatin1(line.mid(colon + 1).trimmed());
    if (name == "content-length") {
        bool ok = false;
        const qlonglong length = value.toLongLong(&ok);
        self->m_pending.bHasContentLength = ok && length >= 0;
        self->m_pending.nContentLength = ok ? static_cast<int>(std::min<qlonglong>(length, INT32_MAX)) : 0;
    } else if (name == "last-modified") {
        self->m_pending.strLastModified = value;
    } else if (name == "server") {
        self->m_pending.strServer = value;
    } else if (name == "location") {
        self->m_bLocationSeen = true;
    }
    return n;
}

std::size_t FCHttpDownload::OnBody(char* data, std::size_t size, std::size_t count, void* selfPtr)
{
    auto* self = static_cast<FCHttpDownload*>(selfPtr);
    const std::size_t n = size * count;
    self->MarkConnected();
    self->m_nBodyBytes += static_cast<std::int64_t>(n);
    if (self->m_request.nMaxBytes > 0 && self->m_nBodyBytes > self->m_request.nMaxBytes)
        return 0; // longer than the caller takes: ends the transfer as a failed read
    self->m_speed.AddBytes(static_cast<std::int64_t>(n));
    if (self->m_nFile >= 0) {
        for (std::size_t done = 0; done < n;) {
            const ssize_t w = ::write(self->m_nFile, data + done, n - done);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                return 0; // a full disk ends the transfer as a failed read
            done += static_cast<std::size_t>(w);
        }
        return n;
    }
    if (!self->m_buffer.Append(data, n))
        return 0; // ends the transfer as a failed read
    return n;
}

int FCHttpDownload::OnProgress(void* selfPtr, std::int64_t, std::int64_t, std::int64_t, std::int64_t)
{
    return static_cast<FCHttpDownload*>(selfPtr)->m_bAbort ? 1 : 0;
}

void FCHttpDownload::Work()
{
    const auto started = std::chrono::steady_clock::now();
    const CurlLibrary* lib = LoadCurl();
    CURL* curl = lib ? lib->easyInit() : nullptr;
    const auto set = [&](CURLoption option, auto value) { lib->easySetopt(curl, option, value); };
    int readResult = 0;
    std::int64_t received = 0;
    if (!m_request.strSaveFile.isEmpty()) {
        m_nFile
            = ::open(m_request.strSaveFile.toLocal8Bit().constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (m_nFile < 0)
            qCWarning(lcUpdate).noquote() << "cannot write" << m_request.strSaveFile << ":" << strerror(errno);
    }
    if (curl && (m_request.strSaveFile.isEmpty() || m_nFile >= 0)) {
        const QByteArray url = m_request.strUrl.toUtf8();
        const QByteArray agent = m_request.strUserAgent.toUtf8();
        curl_slist* headers = nullptr;
        for (const QString& line : m_request.HeaderLines())
            headers = lib->slistAppend(headers, line.toUtf8().constData());
        set(CURLOPT_URL, url.constData());
        set(CURLOPT_PROTOCOLS_STR, "http,https");
        set(CURLOPT_REDIR_PROTOCOLS_STR, m_request.bHttpsRedirectsOnly ? "https" : "http,https");
        // A server that never answers, or goes silent mid-body, fails the transfer instead of holding it.
        set(CURLOPT_CONNECTTIMEOUT, 30L);
        set(CURLOPT_LOW_SPEED_LIMIT, 1L);
        set(CURLOPT_LOW_SPEED_TIME, static_cast<long>(m_request.nStallSeconds));
        // A server that sends just enough never to stall still ends, at the request's deadline.
        if (m_request.nDeadlineSeconds > 0)
            set(CURLOPT_TIMEOUT, static_cast<long>(m_request.nDeadlineSeconds));
        if (m_request.nMaxBytes > 0)
            set(CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(m_request.nMaxBytes));
        set(CURLOPT_FOLLOWLOCATION, 1L);
        // A proxy's answer to the tunnel request ("200 Connection established") is not the server's response.
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
        set(CURLOPT_MAXREDIRS, 10L);
        set(CURLOPT_NOSIGNAL, 1L);
        if (!agent.isEmpty())
            set(CURLOPT_USERAGENT, agent.constData());
        set(CURLOPT_HTTPHEADER, headers);
        const QByteArray proxy = m_request.ProxyText().toUtf8();
        const QByteArray proxyUser = m_request.strProxyUser.toUtf8();
        const QByteArray proxyPassword = m_request.strProxyPassword.toUtf8();
        if (!proxy.isEmpty()) {
            set(CURLOPT_PROXY, proxy.constData());
            if (!proxyUser.isEmpty())
                set(CURLOPT_PROXYUSERNAME, proxyUser.constData());
            if (!proxyPassword.isEmpty())
                set(CURLOPT_PROXYPASSWORD, proxyPassword.constData());
        }
        set(CURLOPT_BUFFERSIZE, static_cast<long>(kChunkBytes));
        set(CURLOPT_HEADERFUNCTION, &FCHttpDownload::OnHeader);
        set(CURLOPT_HEADERDATA, this);
        set(CURLOPT_WRITEFUNCTION, &FCHttpDownload::OnBody);
        set(CURLOPT_WRITEDATA, this);
        // The abort flag is checked by the progress callback, which libcurl calls at least once a second even
        // while nothing arrives.
        set(CURLOPT_NOPROGRESS, 0L);
        set(CURLOPT_XFERINFOFUNCTION, &FCHttpDownload::OnProgress);
        set(CURLOPT_XFERINFODATA, this);
        set(CURLOPT_OPENSOCKETFUNCTION, &FCHttpDownload::OnOpenSocket);
        set(CURLOPT_OPENSOCKETDATA, this);
        set(CURLOPT_CLOSESOCKETFUNCTION, &FCHttpDownload::OnCloseSocket);
        set(CURLOPT_CLOSESOCKETDATA, this);
        const CURLcode result = lib->easyPerform(curl);
        readResult = result == CURLE_OK ? 1 : 0;
        curl_off_t bytes = 0;
        lib->easyGetinfo(curl, CURLINFO_SIZE_DOWNLOAD_T, &bytes);
        received = bytes;
        if (result != CURLE_OK)
            qCDebug(lcUpdate) << "download" << m_request.strUrl << "ended:" << lib->easyStrerror(result);
        lib->slistFreeAll(headers);
    }
    if (curl)
        lib->easyCleanup(curl);
    if (m_nFile >= 0) {
        // On the disk before the caller renames it into place.
        if (::fdatasync(m_nFile) != 0 || ::close(m_nFile) != 0)
            readResult = 0;
        m_nFile = -1;
    }
    m_speed.End();
    qCDebug(lcUpdate) << "download" << m_request.strUrl << received << "bytes, last measured at"
                      << m_speed.CurrentSpeed() << "bytes/s";
    MarkConnected(); // a request that got no response still ends its connect step
    // The end of the transfer is kept apart from the response, which the GUI thread may read from the connected
    // message on; it copies these in when it notices the end.
    m_nEndReadResult = readResult;
    m_nEndBytes = received;
    m_nEndMs
        = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    m_bFinished = true;
}

void FCHttpDownload::CheckConnected()
{
    if (!m_bConnected)
        return;
    m_connectTimer.StopTimer();
    if (m_pOwner)
        m_pOwner->PostDownloadMessage(DOWNLOAD_MSG_CONNECTED, m_nTaskId);
    m_finishTimer.StartTimer(kPollMs);
}

void FCHttpDownload::CheckFinished()
{
    if (!m_bFinished)
        return;
    m_finishTimer.StopTimer();
    m_response.nReadResult = m_nEndReadResult;
    m_response.nBytesReceived = m_nEndBytes;
    m_response.nTransferMs = m_nEndMs;
    if (m_pOwner)
        m_pOwner->PostDownloadMessage(DOWNLOAD_MSG_FINISHED, m_nTaskId);
}
