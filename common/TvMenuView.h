#pragma once

#include <QString>
#include <QStringList>

// What the TV shows now, as a phone remote mirrors it: the menu's title, the rows of its current page (numbered
// from 0 in order) and its page line, and what covers the menu.
struct TvMenuSnapshot {
    enum Mode { Off, Menu, Video, Film };
    Mode mode = Off;
    QString title;
    QStringList rows;
    QString pageLine; // "" when the list has one page
    QStringList watching; // the rows of "继续观看", whatever list is shown
    bool operator==(const TvMenuSnapshot& o) const = default;
};
