#pragma once

#include <functional>
#include <memory>

#include <QDialog>
#include <QPointer>

#include "ShutdownDlg.h"
#include "TvPairing.h"
#include "display/TvScreen.h"
#include "update/UpdateManager.h"

class CPhonePanel;
class CPhoneRemote;
class QCheckBox;
class QComboBox;
class QLabel;
class QMenu;
class QScreen;
class QSystemTrayIcon;
class CAudioRouter;
class CMainFrame;
class CRemoteKeyRouter;

// "系统配置", the program's main window: chooses the TV monitor and sound card, saves them, toggles start at
// boot and starts TV output. It owns the tray icon and menu, the TV window, the shutdown prompt and the background
// update, and takes the remote's keys whenever no TV window exists. Closing it only hides it.
class CTvCfgDlg : public QDialog
{
    Q_OBJECT
public:
    // Shows a modal message (text, caption) owned by a window, or by none.
    using MessageBox = std::function<void(QWidget* owner, const QString& text, const QString& caption)>;

    CTvCfgDlg(CRemoteKeyRouter* router, CAudioRouter* audio, QWidget* parent = nullptr);
    ~CTvCfgDlg() override;

    // Fills the lists, adds the tray icon, reads the settings, registers with the remote router and starts the
    // background update on the update day.
    void OnInitDialog();

    CMainFrame* StartTvOutput();
    void ShowOrStartTvOutput();
    void StopTvOutput();
    void OnRemotePower();
    void Exit();
    void Save();
    void RefreshHardware();
    // Shows the window in front (the tray's "主程序", and a second start of the program).
    void ShowRestored();
    // Whether a tray host shows our icon; without one the window is minimised instead of hidden.
    static bool HasTray();
    // Keeps the pointer off the TV's current screen, unless the user lifted that; lifted while the TV is away.
    void ApplyPointerFence();
    CTvScreen& Tv() { return m_tv; }
    // Whether the TV window's font has been made ready (shortly after the start).
    bool IsTvWindowWarm() const { return m_bTvWarm; }
    // The phone remote while it is switched on, else null (then nothing listens).
    CPhoneRemote* PhoneRemote() const;
    void EnablePhoneRemote(bool on);
    // Spoken menus ("朗读菜单") on or off: stored, shown in the box, and in effect at once.
    void SetSpeakMenus(bool on);
    void PairPhone();

    void SetMessageBox(MessageBox box) { m_messageBox = std::move(box); }
    CMainFrame* MainFrame() const { return m_pMainFrame; }
    CShutdownPCDlg* ShutdownDialog() const { return m_pShutdownDlg; }
    bool ShutdownPromptArmed() const { return m_bShutdownPrompt != 0; }
    QMenu* TrayMenu() const { return m_pTrayMenu; }
    QSystemTrayIcon* TrayIcon() const { return m_pTray; }
    CUpdateManager& UpdateManager() { return m_updateManager; }
    // The TV went to standby (false) or came back (true) while its screen stayed connected (HDMI-CEC tells).
    void OnTvPower(bool on);
    // The PC is about to sleep (true) or woke (false): what plays is held as for the TV's standby; after waking the
    // screens and sound cards are looked at again, and woke() tells the remotes' readers to look again too.
    void OnPcSleep(bool sleeping);

    // The tray menu's entries, by id.
    enum MenuId {
        ID_ABOUT = 32776,
        ID_START_TV = 32777,
        ID_EXIT = 32781,
        ID_STOP_TV = 32782,
        ID_SHOW_MAIN = 32785,
        ID_MOUSE_LIMIT = 32787,
        ID_MOUSE_FREE = 32788,
        ID_REMOTE_CODE = 32790,
    };

signals:
    // TV output was started or brought forward by the user: the TV may be woken and switched to the PC.
    void tvOutputStarted();
    // The shutdown prompt was answered with 1 and the system took the request: the PC goes down.
    void shutdownAccepted();
    // TV output ended because nobody answered "还在看吗" (the TV may go to standby).
    void nobodyWatching();
    void woke();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void reject() override { HideWindow(); }
    void accept() override { HideWindow(); }
    void keyPressEvent(QKeyEvent* e) override;

private:
    void BuildControls();
    void BuildTray();
    void FillDisplayList();
    void OnSoundCardsChanged();
    void OnTvScreenChanged(QScreen* tv);
    void ShowTvNote();
    void SendToTv(const QUrl& address);
    // A row of "继续观看" chosen on a phone: as its digit on the TV, TV output first when it is not running.
    void ResumeWatched(int row);
    void OnDisplayChanged(int index);
    void OnSoundCardChanged(int index);
    void OnBootRunClicked(bool checked);
    void OnRemoteCommand(int command);
    void OpenShutdownPrompt();
    void OpenRemoteCodeDialog();
    void OpenAboutDialog();
    void HideWindow();

    CRemoteKeyRouter* m_pRouter;
    CAudioRouter* m_pAudio;
    CUpdateManager m_updateManager;
    int m_bShutdownPrompt = 0;
    QPointer<CShutdownPCDlg> m_pShutdownDlg;
    QComboBox* m_cbDisplay = nullptr;
    QLabel* m_pDisplaySize = nullptr;
    QComboBox* m_cbSoundCard = nullptr;
    QCheckBox* m_pBootRun = nullptr;
    QCheckBox* m_pSpeakMenus = nullptr;
    QLabel* m_pReceiverNote = nullptr;
    QLabel* m_pTvNote = nullptr;
    CTvScreen m_tv;
    CTvPairing m_pairing;
    QString m_strCardChoice; // the card chosen in the list and not saved yet
    bool m_bTvWarm = false;
    bool m_bTvAsleep = false;
    bool m_bPcAsleep = false;
    CPhonePanel* m_pPhonePanel = nullptr;
    int m_bBootRun = 0;
    QSystemTrayIcon* m_pTray = nullptr;
    QMenu* m_pTrayMenu = nullptr;
    CMainFrame* m_pMainFrame = nullptr;
    MessageBox m_messageBox;
};
