#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkAddressEntry>
#include <QString>

class QUrl;

// One network interface as the rules below see it (QNetworkInterface cannot be made up, so tests build these).
struct NetInterface {
    QString name;
    bool up = false;
    bool running = false;
    bool loopback = false;
    QList<QNetworkAddressEntry> entries;
};
QList<NetInterface> SystemInterfaces();

// The interfaces of the home network: up and running, neither loopback nor a container bridge, VPN or tunnel (a
// phone cannot reach those); only when nothing else is there, the virtual ones. The QR code's address and the
// peers the phone remote takes both come from this one choice.
QList<NetInterface> HomeInterfaces(const QList<NetInterface>& all);

// Whether a connection from peer, received at this machine's address local, comes from the home network: this
// machine itself over loopback, or a peer in the subnet (or the link-local range) of the home interface that owns
// local. A peer that reaches us through a VPN or a container bridge, or from another subnet, is not.
bool IsHomeNetworkPeer(const QHostAddress& peer, const QHostAddress& local, const QList<NetInterface>& all);
bool IsHomeNetworkPeer(const QHostAddress& peer, const QHostAddress& local);

// Whether a Host header names this machine on the given port: one of its addresses (loopback ones included),
// "localhost" or a name under ".localhost", its host name or that name under ".local". Any other name (a rebinding
// attacker's) is refused.
bool IsOwnHost(const QByteArray& host, quint16 port);

// Why a page a phone sends to the TV is refused, or null when the TV may open it: only http and https, no user
// name or password in the address, and no address of this machine (its own services are not the phone's to open).
const char* SendToTvRefusal(const QUrl& address);
// The same for the addresses a host name of such a page resolves to, judged once resolved (a name of any zone may
// point at this machine): refused when any of them is an address of this machine.
const char* ResolvedHostRefusal(const QList<QHostAddress>& addresses);

// The address a phone on the home network reaches this machine at: the first IPv4 address of a home interface,
// else 127.0.0.1.
QString LanAddress(const QList<NetInterface>& all);
QString LanAddress();
