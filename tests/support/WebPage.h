#pragma once

#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include "QtWait.h"

// Runs a script in a page (in the given script world) and waits for its result; an invalid value after 10 s.
inline QVariant RunJs(QWebEnginePage* page, const QString& script, quint32 world = QWebEngineScript::MainWorld)
{
    QVariant result;
    bool done = false;
    page->runJavaScript(script, world, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    WaitFor([&] { return done; }, 10000);
    return result;
}
