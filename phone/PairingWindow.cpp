#include "PairingWindow.h"

#include <QDateTime>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "PhoneRemote.h"
#include "QrCode.h"

CPairingWindow::CPairingWindow(CPhoneRemote* remote, QScreen* screen)
    : QWidget(nullptr, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_pRemote(remote)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setObjectName(QStringLiteral("pairing"));
    setStyleSheet(QStringLiteral("background: white; color: black;"));
    const QRect area = screen->geometry();
    const int side = area.height() * 2 / 3;
    auto* layout = new QVBoxLayout(this);
    auto* title = new QLabel(QStringLiteral("用手机扫描二维码，或在手机上输入配对码"), this);
    m_pQr = new QLabel(this);
    m_pQr->setObjectName(QStringLiteral("qr"));
    m_pCode = new QLabel(this);
    m_pCode->setObjectName(QStringLiteral("code"));
    m_pNote = new QLabel(this);
    for (QLabel* l : { title, m_pQr, m_pCode, m_pNote }) {
        l->setAlignment(Qt::AlignCenter);
        layout->addWidget(l);
    }
    QFont font = this->font();
    font.setPixelSize(std::max(16, area.height() / 30));
    title->setFont(font);
    m_pNote->setFont(font);
    font.setPixelSize(std::max(24, area.height() / 14));
    font.setLetterSpacing(QFont::AbsoluteSpacing, font.pixelSize() / 4.0);
    m_pCode->setFont(font);
    const QImage qr = QrCodeImage(remote->CurrentPairing().address, 1);
    if (!qr.isNull())
        m_pQr->setPixmap(QPixmap::fromImage(
            QrCodeImage(remote->CurrentPairing().address, std::max(4, side / std::max(1, qr.width())))));
    connect(remote, &CPhoneRemote::pairingChanged, this, &CPairingWindow::Refresh);
    Refresh();
    create();
    windowHandle()->setScreen(screen);
    adjustSize();
    move(area.center() - rect().center());
}

void CPairingWindow::Refresh()
{
    if (!m_pRemote->IsPairing()) {
        close();
        return;
    }
    const CPhoneRemote::Pairing& p = m_pRemote->CurrentPairing();
    m_pCode->setText(p.code);
    const bool paused = p.pausedUntil.isValid() && QDateTime::currentDateTimeUtc() < p.pausedUntil;
    m_pNote->setText(paused ? QStringLiteral("配对码输错次数过多，请一分钟后再试") : QString());
}
