#pragma once

#include <QDialog>

class QLabel;
class CRemoteKeyRouter;
class CRemoteLearning;

// "遥控器设置": shows the family of the remote whose keys arrive while it is open, and stores its code on closing.
class CIRCompanySelDlg : public QDialog
{
    Q_OBJECT
public:
    CIRCompanySelDlg(CRemoteKeyRouter* router, QWidget* parent = nullptr);
    ~CIRCompanySelDlg() override;

    QString CodeText() const;
    CRemoteLearning* Learning() const { return m_pLearning; }

protected:
    void showEvent(QShowEvent* e) override;
    void done(int result) override;

private:
    QLabel* m_pCode;
    CRemoteLearning* m_pLearning;
};
