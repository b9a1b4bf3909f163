#pragma once

#include <QDialog>
#include <QTimer>

class QLabel;

// The shutdown prompt on the television: counts 30 seconds down in its title and then closes itself. The remote's
// 1 shuts the PC down and 0 closes it (handled by the control window); Esc and the close box do nothing.
class CShutdownPCDlg : public QDialog
{
    Q_OBJECT
public:
    explicit CShutdownPCDlg(QWidget* parent = nullptr);

    int Countdown() const { return m_nCountdown; }
    // The length of one countdown step (1000 ms; tests shorten it).
    void SetTickInterval(int ms) { m_timer.setInterval(ms); }
    static constexpr int kSeconds = 30;

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void reject() override { }

private:
    void OnTick();

    bool m_bSurface = false; // a full-screen surface with the box drawn inside (Wayland)
    QLabel* m_pTitle = nullptr; // the title with its countdown, shown in the box
    int m_nCountdown = kSeconds;
    QTimer m_timer;
};
