#include "MenuSpeech.h"

#include <cmath>

#include <QCoreApplication>

#include "AudioRouter.h"
#include "MediaPlugins.h"
#include "ScreenMenu.h"
#include "catalogue/ItemBase.h"
#include "common/RemoteCommand.h"
#include "common/Settings.h"
#include "tv/film/LocalPlayer.h"
#include "tv/speech/Speaker.h"

namespace Spoken
{

QString Name(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && HasFilmExtension(name) ? name.left(dot) : name;
}

QString Row(int digit, const QString& name)
{
    return QStringLiteral("%1, %2").arg(digit).arg(Name(name));
}

QString Page(const CItemBase& list)
{
    return QStringLiteral("第 %1 页 共 %2 页").arg(list.PageNumber()).arg(std::max(list.PageCount(), 1));
}

QString ListIntro(const QString& kind, const CItemBase& list)
{
    QString text = QStringLiteral("共 %1 项").arg(list.RowCount());
    if (!kind.isEmpty())
        text.prepend(Name(kind) + QStringLiteral(", "));
    if (list.PageCount() > 1)
        text += QStringLiteral(", ") + Page(list);
    return text;
}

QString Digits(const CItemBase& list)
{
    int first = 0, end = 0;
    list.VisibleRange(first, end);
    QStringList rows;
    for (int i = first; i < end; ++i)
        if (const QString name = list.RowAt(i).name; !name.isEmpty()) // (Home's rows with nothing behind them)
            rows << QStringLiteral("%1 %2").arg(i - first).arg(Name(name));
    return rows.join(QStringLiteral(", "));
}

QString Position(double seconds)
{
    const long long total = std::isfinite(seconds) && seconds > 0 ? std::llround(seconds) : 0;
    const long long h = total / 3600, m = total / 60 % 60, s = total % 60;
    if (h > 0)
        return QStringLiteral("%1 小时 %2 分 %3 秒").arg(h).arg(m).arg(s);
    if (m > 0)
        return QStringLiteral("%1 分 %2 秒").arg(m).arg(s);
    return QStringLiteral("%1 秒").arg(s);
}

} // namespace Spoken

namespace
{

// What a list is called where no row named it: the lists Home opens (and the first list shown).
QString KindOfState(int state)
{
    switch (state) {
    case CItemListSet::VideoTypes:
        return QStringLiteral("在线视频");
    case CItemListSet::StarList:
        return QStringLiteral("电影明星");
    case CItemListSet::LocalMovies:
        return QStringLiteral("本地电影");
    case CItemListSet::Watching:
        return QStringLiteral("继续观看");
    case CItemListSet::Favourites:
        return QStringLiteral("收藏");
    default:
        return QString();
    }
}

} // namespace

CMenuNarrator::Look CMenuNarrator::LookAt(const CScreenMenu& menu)
{
    Look look;
    look.list = menu.CurrentList();
    look.state = menu.ListSet().State();
    if (look.list) {
        look.page = look.list->PageIndex();
        look.rows = look.list->RowCount();
        if (look.rows > 0)
            look.firstRow = look.list->RowAt(0).name;
    }
    return look;
}

void CMenuNarrator::Before(const CScreenMenu& menu, int command)
{
    m_before = LookAt(menu);
    m_nChosen = -1;
    m_strChosen.clear();
    const int digit = IsDigitCommand(command) ? command - RC_Digit0 : command == RC_Ok ? menu.Highlight() : -1;
    if (m_before.list && !menu.ListSet().IsPlaying() && m_before.list->IsValidSelection(digit)) {
        m_nChosen = digit;
        m_strChosen = m_before.list->RowAt(m_before.list->PageIndex() * m_before.list->PageSize() + digit).name;
    }
}

QStringList CMenuNarrator::Current(const CScreenMenu& menu) const
{
    const CItemBase* list = menu.CurrentList();
    if (!list)
        return {};
    if (menu.ListSet().State() == CItemListSet::Home)
        return { Spoken::Digits(*list) };
    const QString kind = m_kinds.value(list, KindOfState(menu.ListSet().State()));
    QStringList said { Spoken::ListIntro(kind, *list) };
    int first = 0, end = 0;
    list->VisibleRange(first, end);
    if (end > first)
        said << Spoken::Row(0, list->RowAt(first).name);
    return said;
}

QStringList CMenuNarrator::After(const CScreenMenu& menu, int command)
{
    const Look now = LookAt(menu);
    QStringList said;
    if (m_nChosen >= 0)
        said << Spoken::Row(m_nChosen, m_strChosen);
    if (menu.ListSet().IsPlaying() || !now.list)
        return said; // what plays says itself
    // Another list, or the same one holding other rows (a folder of the local movies opened in it).
    const bool entered = now.list != m_before.list || now.state != m_before.state;
    const bool refilled = now.rows != m_before.rows || now.firstRow != m_before.firstRow;
    if (entered || refilled) {
        // Named by the row chosen; a list refilled without a choice (a folder's parent) by what it is.
        if (m_nChosen >= 0)
            m_kinds[now.list] = m_strChosen;
        else if (!entered)
            m_kinds.remove(now.list);
        return said + Current(menu);
    }
    switch (command) {
    case RC_Up:
    case RC_Down: {
        if (now.page != m_before.page)
            said << Spoken::Page(*now.list);
        int first = 0, end = 0;
        now.list->VisibleRange(first, end);
        if (menu.Highlight() >= 0 && first + menu.Highlight() < end)
            said << Spoken::Row(menu.Highlight(), now.list->RowAt(first + menu.Highlight()).name);
        break;
    }
    case RC_NextPage:
    case RC_PreviousPage:
    case RC_Left:
    case RC_Right:
        said << Spoken::Page(*now.list);
        break;
    case RC_Back:
        // Nowhere further up: where the menu is, once more.
        said << Current(menu);
        break;
    default:
        break;
    }
    return said;
}

void ApplySpeakMenus()
{
    const bool on = ReadSettingNumber(QString::fromLatin1(SettingKey::SpeakMenus)) != 0;
    CSpeaker* speaker = CSpeaker::Instance();
    if (!on) {
        delete speaker;
        return;
    }
    if (!speaker)
        speaker = new CSpeaker(
            CreateSpeechSynthesizer,
            [](QString* sink) {
                CAudioRouter* router = CAudioRouter::Instance();
                return router ? router->SpeechSink(sink) : (sink->clear(), true);
            },
            [](bool ducked) {
                if (CAudioRouter* router = CAudioRouter::Instance())
                    router->SetDucked(ducked);
            },
            qApp);
    // An unset or unreadable speed or pitch is the default; the engine keeps them within its range.
    const auto number = [](const char* key, int fallback) {
        bool ok = false;
        const int value = ReadSetting(QString::fromLatin1(key)).trimmed().toInt(&ok);
        return ok ? value : fallback;
    };
    speaker->SetVoice(number(SettingKey::SpeechRate, kSpeechRateDefault),
                      number(SettingKey::SpeechPitch, kSpeechPitchDefault));
}

void Speak(const QString& text, bool cut)
{
    if (CSpeaker* speaker = CSpeaker::Instance()) {
        if (cut)
            speaker->Interrupt();
        speaker->Say(text);
    }
}
