#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

class CItemBase;
class CScreenMenu;

// Spoken menus: what the TV says, in Mandarin, for a person who cannot read the screen. Texts are short and say
// numbers as numbers (the speech engine reads "23" as twenty-three); the speaker says them on the TV's sound card.
namespace Spoken
{
// A row's name as it is read: a film file's extension left out.
QString Name(const QString& name);
// "3, 第一集": the row's digit on its page and its name.
QString Row(int digit, const QString& name);
// "第 2 页 共 3 页".
QString Page(const CItemBase& list);
// "电视剧, 共 23 项, 第 1 页 共 3 页" (the page only where there are several; kind may be empty).
QString ListIntro(const QString& kind, const CItemBase& list);
// What the digits of a list open, as drawn: "0 在线视频, 1 电影明星, 2 本地电影".
QString Digits(const CItemBase& list);
// "1 小时 2 分 5 秒", "2 分 0 秒", "5 秒".
QString Position(double seconds);
} // namespace Spoken

// The speech for the remote's keys over the menu: what a key changed, read from the menu before and after it.
class CMenuNarrator
{
public:
    // Before the key: remembers what the menu shows and the row a digit or OK would choose.
    void Before(const CScreenMenu& menu, int command);
    // After it: what to say, in order (nothing for a key that went to what plays).
    QStringList After(const CScreenMenu& menu, int command);
    // What the menu shows now, whole: the list's kind and size and its first row, or Home's digits.
    QStringList Current(const CScreenMenu& menu) const;

private:
    struct Look {
        const CItemBase* list = nullptr;
        int state = 0;
        int page = 0;
        int rows = 0;
        QString firstRow;
    };
    static Look LookAt(const CScreenMenu& menu);

    Look m_before;
    int m_nChosen = -1; // the digit the key chooses, -1 for none
    QString m_strChosen; // and that row's name
    QHash<const CItemBase*, QString> m_kinds; // each list by the row that opened it
};

// Turns spoken menus on or off as the settings say (SpeakMenus, SpeechRate, SpeechPitch): the speaker, and with it
// the speech engine, exists only while they are on.
void ApplySpeakMenus();
// Says text on the TV when spoken menus are on; cut: first cuts off what is being said.
void Speak(const QString& text, bool cut = false);
