#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// Whether a peer is on one of this machine's networks: this machine itself, a link-local address, or an address in
// the subnet of one of its interfaces.
bool IsLocalNetworkPeer(const QHostAddress& peer);
// Whether a Host header names this machine on the given port: one of its addresses, "localhost", its host name or
// that name under ".local". Any other name (a rebinding attacker's) is refused.
bool IsOwnHost(const QByteArray& host, quint16 port);
// The address a phone on the home network reaches this machine at: the first IPv4 address of an interface that is
// up, running and neither loopback nor a container bridge or VPN tunnel (those only when nothing else is there),
// else 127.0.0.1.
QString LanAddress();
