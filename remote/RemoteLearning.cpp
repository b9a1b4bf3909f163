#include "RemoteLearning.h"

#include "KeyRouter.h"
#include "RemoteCodes.h"
#include "common/AppMessages.h"
#include "common/Globals.h"
#include "common/Settings.h"

CRemoteLearning::CRemoteLearning(CRemoteKeyRouter* router, QObject* parent)
    : QObject(parent)
    , m_pRouter(router)
{
}

CRemoteLearning::~CRemoteLearning()
{
    if (m_bActive)
        End();
}

void CRemoteLearning::Begin()
{
    m_pRouter->SetLearnWindow(this);
    g_bIRLearning = true;
    m_bActive = true;
    SetText(CompanyLabel(g_wCompanyID));
}

void CRemoteLearning::End()
{
    g_bIRLearning = false;
    m_pRouter->SetLearnWindow(nullptr);
    m_bActive = false;
    WriteSetting(QString::fromLatin1(SettingKey::CompanyID), QString::number(g_wCompanyID.load()));
}

QString CRemoteLearning::TextForCode(std::uint16_t customCode, std::uint8_t keyByte, std::uint16_t* kept)
{
    if (customCode == kFamilySonyToshiba || customCode == kFamilyLgSamsung) {
        *kept = customCode;
        return CompanyLabel(customCode);
    }
    *kept = 0;
    return QString::asprintf("搜索中: %04X %02X", customCode, keyByte);
}

bool CRemoteLearning::event(QEvent* e)
{
    if (e->type() != eventType(WM_REMOTE_COMMAND))
        return QObject::event(e);
    const auto* key = static_cast<CAppEvent*>(e);
    std::uint16_t kept = 0;
    SetText(TextForCode(static_cast<std::uint16_t>(key->wParam()), static_cast<std::uint8_t>(key->lParam()), &kept));
    g_wCompanyID = kept;
    return true;
}

void CRemoteLearning::SetText(const QString& text)
{
    m_strText = text;
    emit textChanged(text);
}
