#include "TvPairing.h"

#include <QGuiApplication>
#include <QScreen>

#include "common/Settings.h"
#include "display/TvIdentity.h"
#include "display/TvScreen.h"

std::vector<CTvPairing::Monitor> CTvPairing::Monitors(int* tvIndex) const
{
    std::vector<Monitor> monitors;
    *tvIndex = -1;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (QScreen* screen : QGuiApplication::screens()) {
        const int n = static_cast<int>(monitors.size());
        QString text = screen == primary ? QStringLiteral("主显示器") : QStringLiteral("第 %1 副显示器").arg(n);
        const QString model = m_tv.Identity(screen).model;
        if (!model.isEmpty())
            text += QStringLiteral(" (%1)").arg(model);
        monitors.push_back({ text, screen->geometry(), screen->name() });
        if (screen == m_tv.Screen() && m_tv.IsKnown())
            *tvIndex = n;
    }
    return monitors;
}

QString CTvPairing::WantedSoundCard(const std::vector<SoundCard>& cards, const QString& choice) const
{
    if (!choice.isEmpty())
        return choice;
    const QString stored = ReadSetting(QString::fromLatin1(SettingKey::SoundCard));
    if (!stored.trimmed().isEmpty())
        return stored;
    if (!m_tv.IsRecognised())
        return QString();
    // Nothing chosen: the recognised TV's own card.
    const int paired = PairSoundCard(cards, m_tv.Identity(m_tv.Screen()).model);
    return paired >= 0 ? cards[static_cast<std::size_t>(paired)].productName : QString();
}

QStringList CTvPairing::SoundCardTexts(const std::vector<SoundCard>& cards) const
{
    const QString tvModel = m_tv.Screen() && m_tv.IsKnown() ? m_tv.Identity(m_tv.Screen()).model : QString();
    const int tvCard = tvModel.isEmpty() ? -1 : PairSoundCard(cards, tvModel);
    QStringList texts;
    for (int i = 0; i < static_cast<int>(cards.size()); ++i) {
        const QString& name = cards[static_cast<std::size_t>(i)].productName;
        const bool named = i == tvCard && !name.contains(tvModel, Qt::CaseInsensitive);
        texts << (named ? QStringLiteral("%1 (%2)").arg(name, tvModel) : name);
    }
    return texts;
}

QString CTvPairing::Note(bool tvOutputRuns) const
{
    if (!m_tv.Screen())
        return tvOutputRuns ? QStringLiteral("电视未连接，电视接通后即显示电视画面") : QStringLiteral("电视未连接");
    if (m_tv.IsRecognised() && ReadSetting(QString::fromLatin1(SettingKey::DisplayName)).isEmpty())
        return QStringLiteral("已自动识别电视: %1").arg(m_tv.Identity(m_tv.Screen()).model);
    return QString();
}
