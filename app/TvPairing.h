#pragma once

#include <vector>

#include <QRect>
#include <QString>
#include <QStringList>

#include "common/SoundCard.h"

class CTvScreen;

// What "系统配置" shows of the TV and its sound card: the monitors named after what they are, which one is the TV
// (stored, chosen or recognised), the sound card to show chosen, and the TV's note. It only reads; the dialog fills
// its lists from it.
class CTvPairing
{
public:
    explicit CTvPairing(const CTvScreen& tv)
        : m_tv(tv)
    {
    }

    struct Monitor {
        QString text; // "主显示器", "第 1 副显示器 (LG TV)"
        QRect geometry;
        QString name; // the screen's name, which the entry keeps
    };
    // The monitors in the screens' order; *tvIndex is the TV's entry, or -1 while the TV is not known.
    std::vector<Monitor> Monitors(int* tvIndex) const;

    // The card to show chosen: the user's unsaved choice, else the stored card, else the recognised TV's own card;
    // "" for none.
    QString WantedSoundCard(const std::vector<SoundCard>& cards, const QString& choice) const;
    // The card list's texts: the TV's own card says so, when its description does not already name the TV.
    QStringList SoundCardTexts(const std::vector<SoundCard>& cards) const;

    // The note under the lists: the TV is away (and TV output waits for it), or it was recognised by itself; ""
    // otherwise.
    QString Note(bool tvOutputRuns) const;

private:
    const CTvScreen& m_tv;
};
