#pragma once

#include <memory>

#include <QJsonValue>
#include <QPoint>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWebEngineScript>

#include "QtWait.h"
#include "tv/web/ChromiumPage.h"
#include "tv/web/ChromiumVideoView.h"
#include "tv/MediaPlugins.h"
#include "tv/web/OnlineVideoView.h"

// The TV window's web view as a test sees it, on whichever engine this run chose: scripts in its top frame and a
// click into its page.
class WebProbe
{
public:
    explicit WebProbe(IWebVideoView* view)
        : m_pView(view)
        , m_bChromium(ChosenWebEngine() == WebEngineKind::Chromium)
    {
    }

    bool IsChromium() const { return m_bChromium; }
    QWidget* Widget() const { return m_pView->Widget(); }

    // The script's value from the top frame's own world, or from the page script's; invalid after 10 s or when the
    // page has no such world yet.
    QVariant Js(const QString& script, bool scriptWorld = false) const
    {
        // Shared with the answer, which may come after the wait gave up.
        auto answer = std::make_shared<std::pair<bool, QVariant>>();
        if (!m_bChromium)
            static_cast<COnlineVideoView*>(m_pView)->page()->runJavaScript(
                script, scriptWorld ? COnlineVideoView::kScriptWorld : QWebEngineScript::MainWorld,
                [answer](const QVariant& v) {
                    *answer = { true, v };
                });
        else if (CChromiumPage* page = static_cast<CChromiumVideoView*>(m_pView)->Page())
            page->Evaluate(
                script,
                [answer](const QJsonValue& v) {
                    *answer = { true, v.toVariant() };
                },
                scriptWorld ? CChromiumPage::World::Script : CChromiumPage::World::Page);
        else
            return {};
        WaitFor([&] { return answer->first; }, 10000);
        return answer->second;
    }

    QString Url() const { return Js(QStringLiteral("location.href")).toString(); }

    // A left click at a point of the page, as a user's click reaches it on this engine.
    void Click(QPoint at) const
    {
        if (m_bChromium) {
            if (CChromiumPage* page = static_cast<CChromiumVideoView*>(m_pView)->Page())
                page->Click(at.x(), at.y());
            return;
        }
        QWidget* view = m_pView->Widget();
        QTest::mouseClick(view->focusProxy() ? view->focusProxy() : view, Qt::LeftButton, Qt::NoModifier, at);
    }

private:
    IWebVideoView* m_pView;
    bool m_bChromium;
};
