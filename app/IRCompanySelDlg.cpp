#include "IRCompanySelDlg.h"

#include <QLabel>
#include <QPushButton>

#include "AppIcon.h"
#include "remote/RemoteLearning.h"

CIRCompanySelDlg::CIRCompanySelDlg(CRemoteKeyRouter* router, QWidget* parent)
    : QDialog(parent)
    , m_pCode(new QLabel(QStringLiteral("未知"), this))
    , m_pLearning(new CRemoteLearning(router, this))
{
    setWindowTitle(QStringLiteral("遥控器设置"));
    setWindowIcon(AppIcon());
    setFixedSize(318, 193);
    auto* caption = new QLabel(QStringLiteral("当前使用编码:"), this);
    caption->setGeometry(39, 55, 83, 16);
    m_pCode->setObjectName(QStringLiteral("1011"));
    m_pCode->setGeometry(132, 55, 120, 18);
    auto* ok = new QPushButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("1"));
    ok->setDefault(true);
    ok->setGeometry(120, 120, 75, 23);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_pLearning, &CRemoteLearning::textChanged, m_pCode, &QLabel::setText);
}

CIRCompanySelDlg::~CIRCompanySelDlg() = default;

QString CIRCompanySelDlg::CodeText() const
{
    return m_pCode->text();
}

void CIRCompanySelDlg::showEvent(QShowEvent* e)
{
    QDialog::showEvent(e);
    m_pLearning->Begin();
}

void CIRCompanySelDlg::done(int result)
{
    // Learning ends with the dialog: the flag is cleared and the code stored as CompanyID.
    m_pLearning->End();
    QDialog::done(result);
}
