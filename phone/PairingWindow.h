#pragma once

#include <QWidget>

class CPhoneRemote;
class QLabel;
class QScreen;

// Shows a pairing on the TV: the QR code that pairs a phone in one step, the short code to type where scanning is
// not possible, and a note while the short code is paused. It follows the pairing and closes when it ends.
class CPairingWindow : public QWidget
{
    Q_OBJECT
public:
    CPairingWindow(CPhoneRemote* remote, QScreen* screen);

private:
    void Refresh();

    CPhoneRemote* m_pRemote;
    QLabel* m_pCode = nullptr;
    QLabel* m_pNote = nullptr;
    QLabel* m_pQr = nullptr;
};
