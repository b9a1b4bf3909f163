#include "CecLinux.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QSocketNotifier>

#include <linux/cec.h>

#include "CecPlayback.h"
#include "common/Log.h"

CLinuxCecAdapter::CLinuxCecAdapter(const QString& devnode, QObject* parent)
    : QObject(parent)
    , m_strNode(devnode)
{
    m_fd = ::open(devnode.toLocal8Bit().constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        qCWarning(lcRemote, "CEC: cannot open %s: %s", qPrintable(devnode), std::strerror(errno));
        return;
    }
    cec_caps caps {};
    if (::ioctl(m_fd, CEC_ADAP_G_CAPS, &caps) != 0 || !(caps.capabilities & CEC_CAP_TRANSMIT)) {
        qCWarning(lcRemote, "CEC: %s cannot send; not used", qPrintable(devnode));
        Close();
        return;
    }
    // Initiator and follower, shared with other programs: no exclusive mode, so a CEC tool run beside us still
    // works, and the kernel goes on answering the questions it answers for every device.
    __u32 mode = CEC_MODE_INITIATOR | CEC_MODE_FOLLOWER;
    if (::ioctl(m_fd, CEC_S_MODE, &mode) != 0) {
        qCWarning(lcRemote, "CEC: %s refuses follower mode: %s", qPrintable(devnode), std::strerror(errno));
        Close();
        return;
    }
    qCInfo(lcRemote, "CEC: using %s (%s, driver %s)", qPrintable(devnode), caps.name, caps.driver);
    m_pRead = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
    connect(m_pRead, &QSocketNotifier::activated, this, &CLinuxCecAdapter::OnReadable);
    // Events (address changes, lost messages) are signalled as priority data.
    m_pEvents = new QSocketNotifier(m_fd, QSocketNotifier::Exception, this);
    connect(m_pEvents, &QSocketNotifier::activated, this, &CLinuxCecAdapter::OnEvent);
}

CLinuxCecAdapter::~CLinuxCecAdapter()
{
    Close();
}

void CLinuxCecAdapter::Close()
{
    delete m_pRead;
    m_pRead = nullptr;
    delete m_pEvents;
    m_pEvents = nullptr;
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool CLinuxCecAdapter::Claim(const QString& osdName)
{
    if (m_fd < 0)
        return false;
    cec_log_addrs current {};
    if (::ioctl(m_fd, CEC_ADAP_G_LOG_ADDRS, &current) == 0 && current.num_log_addrs > 0) {
        // Configured already (by the driver or another program): we join as that device rather than take the
        // adapter from its owner.
        qCInfo(lcRemote, "CEC: %s is configured already; answering as its logical address", qPrintable(m_strNode));
        ReportAddresses();
        return true;
    }
    cec_log_addrs want {};
    want.cec_version = CEC_OP_CEC_VERSION_1_4;
    want.num_log_addrs = 1;
    want.vendor_id = CEC_VENDOR_ID_NONE;
    // No RC pass-through: the TV's keys come to us as messages only, never also as an input device that we
    // would read a second time.
    want.flags = CEC_LOG_ADDRS_FL_ALLOW_UNREG_FALLBACK;
    const QByteArray name = osdName.toLatin1().left(static_cast<int>(sizeof(want.osd_name)) - 1);
    std::memcpy(want.osd_name, name.constData(), static_cast<std::size_t>(name.size()));
    want.primary_device_type[0] = CEC_OP_PRIM_DEVTYPE_PLAYBACK;
    want.log_addr_type[0] = CEC_LOG_ADDR_TYPE_PLAYBACK;
    want.all_device_types[0] = CEC_OP_ALL_DEVTYPE_PLAYBACK;
    // Non-blocking: the claim goes on in the kernel and its outcome arrives as a state change event.
    if (::ioctl(m_fd, CEC_ADAP_S_LOG_ADDRS, &want) != 0 && errno != EBUSY) {
        qCWarning(lcRemote, "CEC: cannot claim an address on %s: %s", qPrintable(m_strNode), std::strerror(errno));
        return false;
    }
    ReportAddresses();
    return true;
}

bool CLinuxCecAdapter::Transmit(const CecFrame& frame)
{
    if (m_fd < 0 || frame.bytes.empty() || frame.bytes.size() > CEC_MAX_MSG_SIZE)
        return false;
    cec_msg msg {};
    msg.len = static_cast<__u32>(frame.bytes.size());
    std::memcpy(msg.msg, frame.bytes.data(), frame.bytes.size());
    // Non-blocking: the kernel queues the frame and reports its fate later through CEC_RECEIVE.
    return ::ioctl(m_fd, CEC_TRANSMIT, &msg) == 0;
}

void CLinuxCecAdapter::ReportAddresses()
{
    __u16 physical = CEC_PHYS_ADDR_INVALID;
    cec_log_addrs addrs {};
    if (::ioctl(m_fd, CEC_ADAP_G_PHYS_ADDR, &physical) != 0)
        physical = CEC_PHYS_ADDR_INVALID;
    int logical = -1;
    if (::ioctl(m_fd, CEC_ADAP_G_LOG_ADDRS, &addrs) == 0 && addrs.num_log_addrs > 0
        && addrs.log_addr[0] != CEC_LOG_ADDR_INVALID)
        logical = addrs.log_addr[0];
    if (onAddresses)
        onAddresses(physical, logical);
}

void CLinuxCecAdapter::OnReadable()
{
    for (int i = 0; i < 64 && m_fd >= 0; ++i) {
        cec_msg msg {};
        if (::ioctl(m_fd, CEC_RECEIVE, &msg) != 0) {
            if (errno == EAGAIN || errno == EINTR)
                return;
            qCWarning(lcRemote, "CEC: %s failed: %s", qPrintable(m_strNode), std::strerror(errno));
            Close();
            emit gone();
            return;
        }
        if (msg.rx_status == 0) {
            // The outcome of a frame we sent.
            if (!(msg.tx_status & CEC_TX_STATUS_OK))
                qCDebug(lcRemote, "CEC: a frame to %d was not taken (status %#x)", msg.msg[0] & 0xf, msg.tx_status);
            continue;
        }
        if (!(msg.rx_status & CEC_RX_STATUS_OK) || msg.len == 0 || msg.len > CEC_MAX_MSG_SIZE)
            continue;
        CecFrame frame;
        frame.bytes.assign(msg.msg, msg.msg + msg.len);
        if (onFrame)
            onFrame(frame);
    }
}

void CLinuxCecAdapter::OnEvent()
{
    for (int i = 0; i < 64 && m_fd >= 0; ++i) {
        cec_event ev {};
        if (::ioctl(m_fd, CEC_DQEVENT, &ev) != 0) {
            if (errno != EAGAIN && errno != EINTR) {
                Close();
                emit gone();
            }
            return;
        }
        if (ev.event == CEC_EVENT_STATE_CHANGE)
            ReportAddresses();
        else if (ev.event == CEC_EVENT_LOST_MSGS)
            qCInfo(lcRemote, "CEC: %u messages were lost", ev.lost_msgs.lost_msgs);
    }
}

CCecDevices::CCecDevices(std::function<void(int)> keySink, QObject* parent)
    : QObject(parent)
    , m_keySink(std::move(keySink))
    // The first adapter that opens is the one used.
    , m_watch("cec", [this](const QString& node) {
        if (!m_pPlayback)
            TryOpen(node);
    })
{
}

CCecDevices::~CCecDevices()
{
    m_pPlayback.reset();
}

void CCecDevices::Start()
{
    m_watch.Start();
}

void CCecDevices::TryOpen(const QString& devnode)
{
    auto adapter = std::make_unique<CLinuxCecAdapter>(devnode);
    if (!adapter->IsOpen())
        return;
    // Dropped later, not from inside the adapter's own read.
    connect(
        adapter.get(), &CLinuxCecAdapter::gone, this, [this] { m_pPlayback.reset(); }, Qt::QueuedConnection);
    m_strNode = devnode;
    UseAdapter(std::move(adapter));
}

void CCecDevices::UseAdapter(std::unique_ptr<ICecAdapter> adapter)
{
    m_pPlayback = std::make_unique<CCecPlayback>(std::move(adapter), m_keySink);
    connect(m_pPlayback.get(), &CCecPlayback::tvPowerChanged, this, &CCecDevices::tvPowerChanged);
    m_pPlayback->Start();
}

void CCecDevices::WakeTv()
{
    if (m_pPlayback)
        m_pPlayback->WakeTv();
}

void CCecDevices::StandbyTv()
{
    if (m_pPlayback)
        m_pPlayback->StandbyTv();
}
