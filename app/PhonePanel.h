#pragma once

#include <functional>
#include <memory>

#include <QGroupBox>

#include "common/TvMenuView.h"

class CPhoneRemote;
class CRemoteKeyRouter;
class QCheckBox;
class QListWidget;
class QScreen;
class QUrl;

// The phone remote's part of "系统配置": the group "手机" with its switch "手机遥控", "配对手机", the list of paired
// phones and "删除"; it owns the phone remote while it is switched on, and shows the pairing window on the TV.
class CPhonePanel : public QGroupBox
{
    Q_OBJECT
public:
    struct Hooks {
        std::function<TvMenuSnapshot()> menu; // what the TV shows, for the phones
        std::function<QScreen*()> pairingScreen; // where the pairing window shows: the TV, else the primary screen
        std::function<void(const QString& text)> message; // a message box of the dialog
    };

    CPhonePanel(CRemoteKeyRouter* router, Hooks hooks, QWidget* parent);
    ~CPhonePanel() override;

    // The phone remote while it is switched on, else null (then nothing listens).
    CPhoneRemote* PhoneRemote() const { return m_pPhone.get(); }
    // Switches it on (on the port of the settings) or off; the switch shows what took effect.
    void Enable(bool on);
    void Pair();
    // What the TV shows has changed: the phones hear of it.
    void MenuChanged();

signals:
    // A phone asked to play a page on the TV.
    void sendToTv(const QUrl& address);
    void resumeWatched(int row);
    void speakMenus(bool on);

private:
    void FillList();

    CRemoteKeyRouter* m_pRouter;
    Hooks m_hooks;
    std::unique_ptr<CPhoneRemote> m_pPhone;
    QCheckBox* m_pSwitch = nullptr;
    QListWidget* m_pPhones = nullptr;
};
