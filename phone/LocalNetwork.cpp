#include "LocalNetwork.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QUrl>

namespace
{

QHostAddress plain(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    QHostAddress result = v4 ? QHostAddress(ip) : address;
    result.setScopeId(QString());
    return result;
}

bool isVirtual(const QString& name)
{
    static const QRegularExpression virtualName(QStringLiteral("^(docker|veth|virbr|br-|tun|tap|wg|vmnet|vboxnet|zt)"));
    return virtualName.match(name).hasMatch();
}

// Whether name is this machine's own host name (or that name under ".local"), or a name every resolver keeps for
// the machine itself.
bool isOwnName(QByteArray name)
{
    name = name.toLower();
    while (name.endsWith('.'))
        name.chop(1);
    if (name == "localhost" || name.endsWith(".localhost"))
        return true;
    const QByteArray self = QHostInfo::localHostName().toLower().toUtf8();
    return !self.isEmpty() && (name == self || name == self + ".local");
}

bool isOwnAddress(const QHostAddress& address)
{
    const QHostAddress a = plain(address);
    if (a.isLoopback() || a == QHostAddress(QHostAddress::AnyIPv4) || a == QHostAddress(QHostAddress::AnyIPv6))
        return true;
    for (const QHostAddress& own : QNetworkInterface::allAddresses())
        if (plain(own) == a)
            return true;
    return false;
}

} // namespace

QList<NetInterface> SystemInterfaces()
{
    QList<NetInterface> result;
    for (const QNetworkInterface& i : QNetworkInterface::allInterfaces()) {
        NetInterface n;
        n.name = i.name();
        n.up = i.flags() & QNetworkInterface::IsUp;
        n.running = i.flags() & QNetworkInterface::IsRunning;
        n.loopback = i.flags() & QNetworkInterface::IsLoopBack;
        n.entries = i.addressEntries();
        result << n;
    }
    return result;
}

QList<NetInterface> HomeInterfaces(const QList<NetInterface>& all)
{
    QList<NetInterface> home, virtuals;
    for (const NetInterface& i : all) {
        if (!i.up || !i.running || i.loopback)
            continue;
        (isVirtual(i.name) ? virtuals : home) << i;
    }
    return home.isEmpty() ? virtuals : home;
}

bool IsHomeNetworkPeer(const QHostAddress& peerAddress, const QHostAddress& localAddress,
                       const QList<NetInterface>& all)
{
    const QHostAddress peer = plain(peerAddress), local = plain(localAddress);
    if (peer.isLoopback())
        return local.isLoopback();
    for (const NetInterface& i : HomeInterfaces(all)) {
        bool owns = false;
        for (const QNetworkAddressEntry& e : i.entries)
            owns = owns || plain(e.ip()) == local;
        if (!owns)
            continue;
        if (peer.isLinkLocal())
            return true;
        for (const QNetworkAddressEntry& e : i.entries)
            if (e.prefixLength() > 0 && e.ip().protocol() == peer.protocol()
                && peer.isInSubnet(plain(e.ip()), e.prefixLength()))
                return true;
        return false;
    }
    return false;
}

bool IsHomeNetworkPeer(const QHostAddress& peer, const QHostAddress& local)
{
    return IsHomeNetworkPeer(peer, local, SystemInterfaces());
}

bool IsOwnHost(const QByteArray& host, quint16 port)
{
    QByteArray name = host.trimmed().toLower();
    const QByteArray suffix = ':' + QByteArray::number(port);
    if (!name.endsWith(suffix))
        return false;
    name.chop(suffix.size());
    if (name.startsWith('[') && name.endsWith(']'))
        name = name.mid(1, name.size() - 2);
    if (name.isEmpty())
        return false;
    const QHostAddress literal(QString::fromLatin1(name));
    return literal.isNull() ? isOwnName(name) : isOwnAddress(literal);
}

const char* SendToTvRefusal(const QUrl& address)
{
    const QString scheme = address.scheme().toLower();
    if (!address.isValid() || address.host().isEmpty()
        || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return "not an http or https address";
    if (!address.userInfo().isEmpty())
        return "an address with a user name or password";
    // QUrl gives an IP literal in its canonical form ("127.1" and "0x7f.1" are 127.0.0.1 to it, as to browsers).
    const QString host = address.host(QUrl::FullyDecoded);
    const QHostAddress literal(host);
    if (literal.isNull() ? isOwnName(host.toUtf8()) : isOwnAddress(literal))
        return "an address of this machine";
    return nullptr;
}

const char* ResolvedHostRefusal(const QList<QHostAddress>& addresses)
{
    // (A name this machine cannot resolve is left to the browser, which may reach it through a proxy.)
    for (const QHostAddress& a : addresses)
        if (isOwnAddress(a))
            return "an address of this machine";
    return nullptr;
}

QString LanAddress(const QList<NetInterface>& all)
{
    for (const NetInterface& i : HomeInterfaces(all))
        for (const QNetworkAddressEntry& e : i.entries)
            if (e.ip().protocol() == QAbstractSocket::IPv4Protocol)
                return e.ip().toString();
    return QStringLiteral("127.0.0.1");
}

QString LanAddress()
{
    return LanAddress(SystemInterfaces());
}
