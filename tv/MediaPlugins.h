#pragma once

#include <memory>

class ILocalPlayer;
class ISpeechSynthesizer;
class QString;
class IWebVideoView;
class QWidget;

// The two players of the TV window live in libraries of their own beside the program, loaded on first use: the web
// view (libkrel_web.so, Qt WebEngine) and the film player (libkrel_film.so, libmpv). Until then none of their
// libraries, GPU contexts or child processes cost the tray program anything. Each returns null (and says why in
// the log) when its library cannot be loaded; the object is a child of parent.
IWebVideoView* CreateWebVideoView(QWidget* parent);

// The engine of the web view, chosen once a run (one log line says which and why): Debian's Chromium
// (libkrel_chromium.so) where chromium is installed and the session is X11, where its window can be embedded; else,
// or when the WebEngine setting (or KREL_WEB_ENGINE) says "qtwebengine", Qt WebEngine (libkrel_web.so).
enum class WebEngineKind { QtWebEngine, Chromium };
WebEngineKind ChosenWebEngine();
ILocalPlayer* CreateLocalPlayer(QWidget* parent);

// The speech engine of spoken menus (libkrel_speech.so, libespeak-ng), loaded when spoken menus are first turned on;
// null with why when it cannot be had.
std::unique_ptr<ISpeechSynthesizer> CreateSpeechSynthesizer(QString* why);

// The entry points the libraries export (with C names, so that they are found by name).
using KrelCreateWebVideoViewFn = IWebVideoView* (*)(QWidget* parent);
using KrelCreateLocalPlayerFn = ILocalPlayer* (*)(QWidget* parent);
inline constexpr char kWebViewLibrary[] = "libkrel_web.so";
inline constexpr char kWebViewEntry[] = "krel_create_web_video_view";
inline constexpr char kChromiumViewLibrary[] = "libkrel_chromium.so";
inline constexpr char kFilmPlayerLibrary[] = "libkrel_film.so";
inline constexpr char kFilmPlayerEntry[] = "krel_create_local_player";
