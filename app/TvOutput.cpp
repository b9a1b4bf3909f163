// The control window's TV output and power: starting and stopping TV output (and with it the TV window), the TV and
// the PC going to sleep and waking, the remote's power key and the shutdown prompt it opens.
#include "TvCfgDlg.h"

#include <QPointer>

#include "PhonePanel.h"
#include "PowerControl.h"
#include "ShutdownDlg.h"
#include "catalogue/AdoDatabase.h"
#include "common/Globals.h"
#include "common/Memory.h"
#include "common/RemoteCommand.h"
#include "tv/MainFrame.h"
#include "tv/MenuSpeech.h"

void CTvCfgDlg::OnTvPower(bool on)
{
    m_bTvAsleep = !on;
    if (m_pMainFrame)
        m_pMainFrame->SetHeld(CMainFrame::TvStandby, m_bTvAsleep);
}

void CTvCfgDlg::OnPcSleep(bool sleeping)
{
    m_bPcAsleep = sleeping;
    if (m_pMainFrame)
        m_pMainFrame->SetHeld(CMainFrame::PcSleep, sleeping);
    if (sleeping)
        return;
    RefreshHardware();
    emit woke();
}

CMainFrame* CTvCfgDlg::StartTvOutput()
{
    g_clrBackground = QColor(127, 127, 127);
    if (!OpenCatalogue()) {
        m_messageBox(nullptr, QStringLiteral("打开数据文件失败!"), QString());
        return nullptr;
    }
    auto* frame = new CMainFrame(m_pRouter);
    connect(frame, &CMainFrame::menuChanged, m_pPhonePanel, &CPhonePanel::MenuChanged);
    // Nobody answered "还在看吗": TV output ends as Power ends it, without the shutdown prompt (after the window's
    // own signal has returned).
    connect(
        frame, &CMainFrame::nobodyWatching, this,
        [this] {
            if (!m_pMainFrame)
                return;
            StopTvOutput();
            emit nobodyWatching();
        },
        Qt::QueuedConnection);
    // On the TV's screen; while the TV is away the window waits, shown on no other monitor.
    frame->SetTvScreen(m_tv.Screen());
    Speak(QStringLiteral("电视输出已开启"), true);
    for (const QString& text : CMenuNarrator().Current(frame->Menu()))
        Speak(text);
    emit tvOutputStarted();
    frame->SetHeld(CMainFrame::TvStandby, m_bTvAsleep); // still asleep where nothing woke it
    frame->SetHeld(CMainFrame::PcSleep, m_bPcAsleep);
    return frame;
}

void CTvCfgDlg::ShowOrStartTvOutput()
{
    if (m_pMainFrame) {
        // Brought back over whatever covers it, not only restored underneath.
        m_pMainFrame->show(); // full screen again, also from minimised
        m_pMainFrame->raise();
        m_pMainFrame->activateWindow();
        emit tvOutputStarted();
    } else {
        m_pMainFrame = StartTvOutput();
    }
    ShowTvNote();
    HideWindow();
}

void CTvCfgDlg::StopTvOutput()
{
    if (m_pMainFrame)
        Speak(QStringLiteral("电视输出已关闭"), true);
    delete m_pMainFrame;
    m_pMainFrame = nullptr;
    ReturnFreeMemorySoon(); // the box rests in the tray now
    ShowTvNote();
    m_pPhonePanel->MenuChanged();
}

void CTvCfgDlg::OnRemotePower()
{
    if (!m_pMainFrame) {
        m_pMainFrame = StartTvOutput();
        ShowTvNote();
        HideWindow();
        return;
    }
    StopTvOutput();
    OpenShutdownPrompt();
}

void CTvCfgDlg::OpenShutdownPrompt()
{
    // Modal, but without a nested event loop: the remote's keys keep arriving through the normal loop, and the
    // prompt cleans up after itself when it ends.
    auto* prompt = new CShutdownPCDlg(nullptr);
    m_pShutdownDlg = prompt;
    m_bShutdownPrompt = 1;
    connect(prompt, &QDialog::finished, this, [this, prompt] {
        if (m_pShutdownDlg == prompt) {
            m_bShutdownPrompt = 0;
            m_pShutdownDlg = nullptr;
        }
        prompt->deleteLater();
    });
    prompt->setModal(true);
    prompt->show();
}

void CTvCfgDlg::OnRemoteCommand(int command)
{
    if (command == RC_Digit1) {
        if (m_bShutdownPrompt == 1) {
            m_bShutdownPrompt = 0;
            // The prompt stays while the system goes down.
            ShutdownPC([self = QPointer<CTvCfgDlg>(this)] {
                if (self)
                    emit self->shutdownAccepted();
            });
        }
    } else if (command == RC_Digit0) {
        if (m_bShutdownPrompt == 1)
            m_bShutdownPrompt = 0;
        if (CShutdownPCDlg* prompt = m_pShutdownDlg) {
            // The prompt leaves the screen at once; the object goes one second later. The wait is a timer, so the
            // remote's keys and the TV keep being served meanwhile.
            disconnect(prompt, &QDialog::finished, this, nullptr);
            prompt->done(0);
            QTimer::singleShot(1000, this, [this, gone = QPointer<CShutdownPCDlg>(prompt)] {
                if (m_pShutdownDlg == gone)
                    m_pShutdownDlg = nullptr;
                delete gone.data();
            });
        }
    }
}
