#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

#include "common/Globals.h"
#include "support/PulseServer.h"
#include "support/QtWait.h"
#include "support/TestEnv.h"
#include "tv/AudioRouter.h"

namespace
{

class Audio : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_nSoundCard = 0;
        g_hWaveOut = kNoStream;
        if (!server.Start())
            GTEST_SKIP() << "pulseaudio cannot run here";
        router = std::make_unique<CAudioRouter>();
        // The list comes a moment after the connection.
        ASSERT_TRUE(WaitFor([&] { return router->SoundCards().size() == 2; }));
        cards = router->SoundCards();
    }
    void TearDown() override
    {
        for (auto& p : players) {
            p->kill();
            p->waitForFinished(3000);
        }
        router.reset();
    }

    // paplay as a child of this process, asking for the given sink.
    QProcess* play(const QString& sink, int seconds = 20)
    {
        players.push_back(std::make_unique<QProcess>());
        players.back()->start(QStringLiteral("paplay"),
                              { QStringLiteral("--device=") + sink, server.WavFile(seconds) });
        players.back()->waitForStarted(5000);
        return players.back().get();
    }

    QStringList cardNames() const
    {
        QStringList names;
        for (const SoundCard& card : router->SoundCards())
            names << card.productName;
        return names;
    }
    // Index of the module that made the sink named sinkName.
    int moduleOf(const QString& sinkName) const
    {
        QByteArray text;
        server.Pactl({ QStringLiteral("list"), QStringLiteral("short"), QStringLiteral("modules") }, &text);
        for (const QByteArray& line : text.split('\n'))
            if (line.contains("sink_name=" + sinkName.toUtf8() + ' ')
                || line.endsWith("sink_name=" + sinkName.toUtf8()))
                return line.split('\t').value(0).toInt();
        return -1;
    }

    // The stream of a process, once it exists (players start slowly on a loaded machine).
    PulseServer::SinkInput streamOf(long pid, int timeoutMs = 20000)
    {
        PulseServer::SinkInput found;
        WaitFor(
            [&] {
                for (const auto& s : server.SinkInputs())
                    if (s.pid == pid)
                        found = s;
                return found.index >= 0;
            },
            timeoutMs);
        return found;
    }

    PulseServer server;
    std::unique_ptr<CAudioRouter> router;
    std::vector<SoundCard> cards;
    std::vector<std::unique_ptr<QProcess>> players;
};

} // namespace

TEST_F(Audio, SoundCardsInServerOrderAndSettingMatch)
{
    ASSERT_EQ(cards.size(), 2u);
    EXPECT_EQ(cards[0].productName, QStringLiteral("PC-Speakers"));
    EXPECT_EQ(cards[1].productName, QStringLiteral("HDMI-TV"));
    EXPECT_EQ(cards[1].name, QStringLiteral("tv"));
    EXPECT_EQ(CAudioRouter::MatchSoundCard(cards, QStringLiteral("HDMI-TV")), 1);
    EXPECT_EQ(CAudioRouter::MatchSoundCard(cards, QStringLiteral("hdmi-tv")), -1);

    // Two HDMI outputs whose names agree in their first 31 characters: each is its own card; a name stored cut to
    // 31 characters still names the card it named before (the later one).
    const QString hdmi = QStringLiteral("Built-in Audio Digital Stereo (HDMI)");
    const QString hdmi2 = QStringLiteral("Built-in Audio Digital Stereo (HDMI 2)");
    std::vector<SoundCard> named = { { 0, {}, QStringLiteral(" A "), {}, {} },
                                     { 1, {}, QStringLiteral("B"), {}, {} },
                                     { 2, {}, QStringLiteral("A"), {}, {} },
                                     { 3, {}, hdmi, {}, {} },
                                     { 4, {}, hdmi2, {}, {} },
                                     { 5, {}, QStringLiteral("C"), {}, {} } };
    EXPECT_EQ(CAudioRouter::MatchSoundCard(named, QStringLiteral("A")), 2); // the later of equal names
    EXPECT_EQ(CAudioRouter::MatchSoundCard(named, hdmi), 3);
    EXPECT_EQ(CAudioRouter::MatchSoundCard(named, hdmi2), 4);
    EXPECT_EQ(CAudioRouter::MatchSoundCard(named, hdmi.left(31)), 4);
    EXPECT_EQ(CAudioRouter::MatchSoundCard(named, QStringLiteral("Built-in")), -1);

    // The whole description is the card's name; a new sink shows up in the list.
    server.Pactl({ QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=long"),
                   QStringLiteral("sink_properties=device.description=A-very-long-sound-card-description-text") });
    ASSERT_TRUE(WaitFor([&] { return router->SoundCards().size() == 3; }));
    EXPECT_EQ(router->SoundCards()[2].productName, QStringLiteral("A-very-long-sound-card-description-text"));
}

TEST_F(Audio, OurStreamsGoToTheChosenCardOthersStay)
{
    const int pc = server.SinkIndex(QStringLiteral("pc"));
    const int tv = server.SinkIndex(QStringLiteral("tv"));
    router->SetSoundCard(1);
    EXPECT_EQ(qgetenv("PULSE_SINK"), QByteArray("tv"));

    QProcess* ours = play(QStringLiteral("pc"));
    ASSERT_TRUE(WaitFor([&] { return streamOf(ours->processId()).sink == tv; }));
    EXPECT_EQ(g_hWaveOut.load(), static_cast<std::uint32_t>(streamOf(ours->processId()).index));

    // A player outside our process tree (its parent shell has already ended) is left alone.
    QProcess::execute(QStringLiteral("sh"),
                      { QStringLiteral("-c"),
                        QStringLiteral("paplay --device=pc '%1' & echo $! > '%2'")
                            .arg(server.WavFile(20), server.WavFile(20) + QStringLiteral(".pid")) });
    QFile pidFile(server.WavFile(20) + QStringLiteral(".pid"));
    ASSERT_TRUE(pidFile.open(QIODevice::ReadOnly));
    const long stranger = pidFile.readAll().trimmed().toLong();
    const auto strangers = streamOf(stranger);
    ASSERT_GE(strangers.index, 0) << "the other program's stream never came";
    QThread::msleep(300);
    EXPECT_EQ(streamOf(stranger).sink, pc);
    EXPECT_NE(g_hWaveOut.load(), static_cast<std::uint32_t>(strangers.index));
    ::kill(static_cast<pid_t>(stranger), SIGKILL);

    // The choice changes: the next stream follows it; an index naming no card leaves the stream where it is.
    router->SetSoundCard(0);
    QProcess* next = play(QStringLiteral("tv"));
    ASSERT_TRUE(WaitFor([&] { return streamOf(next->processId()).sink == pc; }));
    router->SetSoundCard(7);
    QProcess* lost = play(QStringLiteral("tv"));
    ASSERT_TRUE(
        WaitFor([&] { return g_hWaveOut.load() == static_cast<std::uint32_t>(streamOf(lost->processId()).index); }));
    QThread::msleep(300);
    EXPECT_EQ(streamOf(lost->processId()).sink, tv);
}

// The TV switched off takes its sink away, and the server moves our stream to the PC's speakers: it is muted there,
// and goes back to the TV with its sound when the sink is back. Another program's stream is not touched.
TEST_F(Audio, OurStreamIsMutedWhileTheTvCardIsGone)
{
    const int pc = server.SinkIndex(QStringLiteral("pc"));
    router->SetSoundCard(1);
    QProcess* ours = play(QStringLiteral("pc"));
    ASSERT_TRUE(WaitFor([&] { return streamOf(ours->processId()).sink == server.SinkIndex(QStringLiteral("tv")); }));
    ASSERT_TRUE(server.RemoveSink(QStringLiteral("tv")));
    EXPECT_TRUE(WaitFor([&] {
        const auto s = streamOf(ours->processId());
        return s.sink == pc && s.muted;
    }));
    ASSERT_TRUE(server.AddSink(QStringLiteral("tv"), QStringLiteral("HDMI-TV")));
    EXPECT_TRUE(WaitFor([&] {
        const auto s = streamOf(ours->processId());
        return s.sink == server.SinkIndex(QStringLiteral("tv")) && !s.muted;
    }));
}

TEST(AudioLevels, StepArithmetic)
{
    EXPECT_EQ(CAudioRouter::SteppedLevel(64000, true), 65535);
    EXPECT_EQ(CAudioRouter::SteppedLevel(65535, true), 65535);
    EXPECT_EQ(CAudioRouter::SteppedLevel(2000, false), 0);
    EXPECT_EQ(CAudioRouter::SteppedLevel(10000, false), 10000 - 3276);
    EXPECT_EQ(CAudioRouter::VolumeOfLevel(65535), 65536u); // 100%
    for (int level : { 0, 1, 3276, 32767, 64000, 65535 })
        EXPECT_EQ(CAudioRouter::LevelOfVolume(CAudioRouter::VolumeOfLevel(level)), level);
    EXPECT_EQ(CAudioRouter::LevelOfVolume(200000), 65535); // above 100% counts as the top
}

TEST_F(Audio, VolumeStepsTheNewestStream)
{
    // No stream of ours yet: another program's stream is never stepped.
    const QString pidFile = server.WavFile(20) + QStringLiteral(".other");
    QProcess::execute(QStringLiteral("sh"),
                      { QStringLiteral("-c"),
                        QStringLiteral("paplay --device=pc '%1' & echo $! > '%2'").arg(server.WavFile(20), pidFile) });
    const long other = ReadFile(pidFile).trimmed().toLong();
    const auto theirs = streamOf(other);
    ASSERT_GE(theirs.index, 0);
    server.Pactl({ QStringLiteral("set-sink-input-volume"), QString::number(theirs.index), QStringLiteral("30000") });
    ASSERT_TRUE(WaitFor([&] { return streamOf(other).volumeLeft == 30000; }));
    router->StepVolume(true);
    QThread::msleep(300);
    EXPECT_EQ(streamOf(other).volumeLeft, 30000);
    ::kill(static_cast<pid_t>(other), SIGKILL);

    router->SetSoundCard(1);
    QProcess* p = play(QStringLiteral("pc"));
    const auto stream = streamOf(p->processId());
    ASSERT_TRUE(WaitFor([&] { return g_hWaveOut.load() == static_cast<std::uint32_t>(stream.index); }));
    auto setVolume = [&](int level, int) {
        server.Pactl(
            { QStringLiteral("set-sink-input-volume"), QString::number(stream.index), QString::number(level) });
    };
    auto volumeIs = [&](int left, int right) {
        return WaitFor([&] {
            const auto s = streamOf(p->processId());
            return s.volumeLeft == left && s.volumeRight == right;
        });
    };
    // paplay plays this file in mono: one channel, reported as both.
    setVolume(static_cast<int>(CAudioRouter::VolumeOfLevel(64000)), 0);
    ASSERT_TRUE(volumeIs(64001, 64001));
    router->StepVolume(true);
    EXPECT_TRUE(WaitFor([&] { return streamOf(p->processId()).volumeLeft == 65536; }));
    router->StepVolume(true);
    QThread::msleep(200);
    EXPECT_EQ(streamOf(p->processId()).volumeLeft, 65536);
    setVolume(static_cast<int>(CAudioRouter::VolumeOfLevel(2000)), static_cast<int>(CAudioRouter::VolumeOfLevel(2000)));
    router->StepVolume(false);
    EXPECT_TRUE(WaitFor([&] { return streamOf(p->processId()).volumeLeft == 0; }));
}

TEST_F(Audio, StereoChannelsAreSetEqual)
{
    router->SetSoundCard(1);
    players.push_back(std::make_unique<QProcess>());
    QProcess* p = players.back().get();
    // pacat reads raw stereo samples from its input; keep it fed with silence from /dev/zero.
    p->setStandardInputFile(QStringLiteral("/dev/zero"));
    p->start(QStringLiteral("pacat"),
             { QStringLiteral("--playback"), QStringLiteral("--channels=2"), QStringLiteral("--format=s16le"),
               QStringLiteral("--rate=8000"), QStringLiteral("--device=pc") });
    ASSERT_TRUE(p->waitForStarted(5000));
    const auto stream = streamOf(p->processId());
    ASSERT_GE(stream.index, 0);
    ASSERT_TRUE(WaitFor([&] { return g_hWaveOut.load() == static_cast<std::uint32_t>(stream.index); }));
    server.Pactl({ QStringLiteral("set-sink-input-volume"), QString::number(stream.index), QStringLiteral("30000"),
                   QStringLiteral("50000") });
    ASSERT_TRUE(WaitFor([&] { return streamOf(p->processId()).volumeRight == 50000; }));
    router->StepVolume(true);
    const int expected = static_cast<int>(CAudioRouter::VolumeOfLevel(CAudioRouter::LevelOfVolume(30000) + 3276));
    EXPECT_TRUE(WaitFor([&] {
        const auto s = streamOf(p->processId());
        return s.volumeLeft == expected && s.volumeRight == expected;
    })) << streamOf(p->processId()).volumeLeft
        << " " << streamOf(p->processId()).volumeRight;
}

TEST_F(Audio, ServerRestartRoutesTheNextStreamAndForgetsTheOld)
{
    router->SetSoundCard(1);
    QProcess* before = play(QStringLiteral("pc"));
    ASSERT_TRUE(
        WaitFor([&] { return g_hWaveOut.load() == static_cast<std::uint32_t>(streamOf(before->processId()).index); }));
    const int connections = router->ConnectionCount();
    server.Stop();
    ASSERT_TRUE(WaitFor([&] { return !router->IsConnected(); }));
    // The old server's stream index would name another program's stream on the new server.
    EXPECT_EQ(g_hWaveOut.load(), kNoStream);
    EXPECT_TRUE(router->SoundCards().empty());
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(WaitFor([&] { return router->ConnectionCount() > connections && router->IsConnected(); }, 10000));
    ASSERT_TRUE(WaitFor([&] { return router->SoundCards().size() == 2u; }));
    QProcess* p = play(QStringLiteral("pc"));
    const int tv = server.SinkIndex(QStringLiteral("tv"));
    EXPECT_TRUE(WaitFor([&] { return streamOf(p->processId()).sink == tv; }));
}

// Start-up a few seconds after login: no sound server yet. Nothing aborts, the list is empty, the router tries
// again slowly, and once a server appears our streams go to the chosen card.
TEST(AudioWithoutServer, WaitsForTheServerWithoutBusyLoop)
{
    PulseServer server; // its private runtime folder, with no server in it yet
    g_hWaveOut = kNoStream;
    CAudioRouter router;
    router.SetSoundCardName(QStringLiteral("HDMI-TV"));
    QThread::msleep(3500);
    EXPECT_FALSE(router.IsConnected());
    EXPECT_TRUE(router.SoundCards(1000).empty());
    // Attempts at 0 s, 1 s and 3 s: a loop without a pause would have made thousands.
    EXPECT_GE(router.AttemptCount(), 2);
    EXPECT_LE(router.AttemptCount(), 4);

    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(WaitFor([&] { return router.SoundCards().size() == 2; }, 15000));
    QProcess player;
    player.start(QStringLiteral("paplay"), { QStringLiteral("--device=pc"), server.WavFile(20) });
    ASSERT_TRUE(player.waitForStarted(5000));
    const int tv = server.SinkIndex(QStringLiteral("tv"));
    EXPECT_TRUE(WaitFor([&] {
        for (const auto& s : server.SinkInputs())
            if (s.pid == player.processId())
                return s.sink == tv;
        return false;
    }));
    player.kill();
    player.waitForFinished(3000);
}

// One command removes two sinks: the two change events must not leave the list holding each card twice.
TEST_F(Audio, BurstOfSinkChangesKeepsOneListEntryPerSink)
{
    for (const char* name : { "x", "y" })
        server.Pactl({ QStringLiteral("load-module"), QStringLiteral("module-remap-sink"),
                       QStringLiteral("sink_name=%1").arg(QLatin1String(name)), QStringLiteral("master=pc") });
    ASSERT_TRUE(WaitFor([&] { return router->SoundCards().size() == 4; }));
    server.Pactl({ QStringLiteral("unload-module"), QStringLiteral("module-remap-sink") });
    const QStringList expected { QStringLiteral("PC-Speakers"), QStringLiteral("HDMI-TV") };
    ASSERT_TRUE(WaitFor([&] { return cardNames() == expected; })) << cardNames().join(QLatin1Char(',')).toStdString();
    QThread::msleep(500); // every answer to the change events is in: the list must still be the same
    EXPECT_EQ(cardNames(), expected);
}

// The TV's sink goes away (the TV is switched off) and comes back under another index: our stream returns to it
// without anything being chosen again.
TEST_F(Audio, ChosenCardFollowsItsSinkAcrossIndexes)
{
    router->SetSoundCard(1);
    QProcess* p = play(QStringLiteral("pc"));
    const int oldTv = server.SinkIndex(QStringLiteral("tv"));
    ASSERT_TRUE(WaitFor([&] { return streamOf(p->processId()).sink == oldTv; }));

    ASSERT_EQ(server.Pactl({ QStringLiteral("unload-module"), QString::number(moduleOf(QStringLiteral("tv"))) }), 0);
    ASSERT_TRUE(WaitFor([&] { return router->SoundCards().size() == 1; }));
    server.Pactl({ QStringLiteral("load-module"), QStringLiteral("module-null-sink"), QStringLiteral("sink_name=tv"),
                   QStringLiteral("sink_properties=device.description=HDMI-TV") });
    const int newTv = server.SinkIndex(QStringLiteral("tv"));
    ASSERT_NE(newTv, oldTv);
    EXPECT_TRUE(WaitFor([&] { return streamOf(p->processId()).sink == newTv; }));
    EXPECT_EQ(cardNames(), (QStringList { QStringLiteral("PC-Speakers"), QStringLiteral("HDMI-TV") }));
}
