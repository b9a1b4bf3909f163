#include "LocalNetwork.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QRegularExpression>

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

} // namespace

bool IsLocalNetworkPeer(const QHostAddress& address)
{
    const QHostAddress peer = plain(address);
    if (peer.isLoopback() || peer.isLinkLocal())
        return true;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& i : interfaces) {
        if (!(i.flags() & QNetworkInterface::IsUp))
            continue;
        for (const QNetworkAddressEntry& e : i.addressEntries())
            if (e.prefixLength() > 0 && peer.isInSubnet(plain(e.ip()), e.prefixLength()))
                return true;
    }
    return false;
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
    if (!literal.isNull()) {
        for (const QHostAddress& own : QNetworkInterface::allAddresses())
            if (plain(own) == plain(literal))
                return true;
        return false;
    }
    const QByteArray self = QHostInfo::localHostName().toLower().toUtf8();
    return name == "localhost" || (!self.isEmpty() && (name == self || name == self + ".local"));
}

QString LanAddress()
{
    // The home network's interface, not a container bridge or a VPN tunnel that a phone cannot reach.
    static const QRegularExpression virtualName(QStringLiteral("^(docker|veth|virbr|br-|tun|tap|wg|vmnet|vboxnet|zt)"));
    QString fallback;
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& i : interfaces) {
        if (!(i.flags() & QNetworkInterface::IsUp) || !(i.flags() & QNetworkInterface::IsRunning)
            || (i.flags() & QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& e : i.addressEntries()) {
            if (e.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (!virtualName.match(i.name()).hasMatch())
                return e.ip().toString();
            if (fallback.isEmpty())
                fallback = e.ip().toString();
        }
    }
    return fallback.isEmpty() ? QStringLiteral("127.0.0.1") : fallback;
}
