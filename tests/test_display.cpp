// Recognising the TV and its sound card from EDID blocks (copies of real monitors' EDIDs and blocks built by the
// standard, each also read by edid-decode) and sink descriptions; finding a stored TV among the screens.
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include "display/Edid.h"
#include "display/TvIdentity.h"

namespace
{

QByteArray edidFile(const QString& name)
{
    QFile f(QStringLiteral(KREL_EDID_DIR "/") + name + QStringLiteral(".hex"));
    return f.open(QIODevice::ReadOnly) ? QByteArray::fromHex(f.readAll().simplified().replace(' ', "")) : QByteArray();
}

SoundCard sink(const char* name, const char* description, const char* port = "", const char* portDescription = "")
{
    return { 0, QString::fromUtf8(name), QString::fromUtf8(description), QString::fromUtf8(port),
             QString::fromUtf8(portDescription) };
}

} // namespace

// Our reader agrees with edid-decode on every block: make, name, serial, size, the HDMI block.
TEST(Edid, ReadsWhatEdidDecodeReads)
{
    for (const char* name : { "lg-tv", "samsung-tv", "desktop-monitor", "laptop-panel", "projector" }) {
        SCOPED_TRACE(name);
        const QByteArray bytes = edidFile(QString::fromLatin1(name));
        ASSERT_GE(bytes.size(), 128);
        QProcess decode;
        decode.start(QStringLiteral("edid-decode"), { QStringLiteral("-") });
        decode.write(bytes);
        decode.closeWriteChannel();
        ASSERT_TRUE(decode.waitForFinished(20000)) << "edid-decode is needed (scripts/deps.sh installs it)";
        const QString text = QString::fromUtf8(decode.readAllStandardOutput());
        auto field = [&](const char* pattern) {
            return QRegularExpression(QString::fromLatin1(pattern)).match(text).captured(1);
        };
        const EdidInfo info = ParseEdid(bytes);
        ASSERT_TRUE(info.valid);
        EXPECT_EQ(info.make, field("Manufacturer: (\\w+)"));
        EXPECT_EQ(info.name, field("Display Product Name: '([^']*)'"));
        const QString serialText = field("Display Product Serial Number: '([^']*)'");
        const QString serialNumber = field("Serial Number: (\\d+)");
        EXPECT_EQ(info.serial, !serialText.isEmpty() ? serialText
                                   : serialNumber == QLatin1String("16843009") ? QString() // 0x01010101: none
                                                                                : serialNumber);
        const QString size = field("Maximum image size: (\\d+ cm x \\d+ cm)");
        EXPECT_EQ(info.widthCm ? QStringLiteral("%1 cm x %2 cm").arg(info.widthCm).arg(info.heightCm) : QString(), size);
        EXPECT_EQ(info.hasHdmi, text.contains(QLatin1String("OUI 00-0C-03")));
    }
}

// Malformed blocks give a defined result and are never read past their end.
TEST(Edid, MalformedBlocks)
{
    const QByteArray tv = edidFile(QStringLiteral("lg-tv"));
    EXPECT_FALSE(ParseEdid(tv.left(127)).valid);
    EXPECT_FALSE(ParseEdid(QByteArray(256, '\0')).valid);
    QByteArray badSum = tv;
    badSum[20] = char(badSum[20] ^ 1);
    EXPECT_FALSE(ParseEdid(badSum).valid);

    // A torn or broken extension: the base block still names the TV, but no HDMI block is taken from it.
    EXPECT_FALSE(ParseEdid(tv.left(200)).hasHdmi);
    EXPECT_EQ(ParseEdid(tv.left(200)).name, QStringLiteral("LG TV"));
    QByteArray badExtension = tv;
    badExtension[128 + 40] = char(badExtension[128 + 40] ^ 1);
    EXPECT_FALSE(ParseEdid(badExtension).hasHdmi);
    // Data blocks claiming to run past the block's end, an extension count larger than what was read.
    QByteArray overrun = tv;
    overrun[128 + 2] = char(127);
    overrun[128 + 4] = char(0x7F); // a vendor block of 31 bytes
    overrun[255] = 0;
    int sum = 0;
    for (int i = 128; i < 255; ++i)
        sum += static_cast<unsigned char>(overrun[i]);
    overrun[255] = char((256 - sum % 256) % 256);
    overrun[126] = char(5);
    overrun[127] = char(static_cast<unsigned char>(tv[127]) - 4);
    EXPECT_TRUE(ParseEdid(overrun).valid);
    // Control characters in a name never reach the settings.
    QByteArray name = tv;
    name[113] = '\x1b';
    name[127] = char(static_cast<unsigned char>(tv[127]) + 0x4c - 0x1b);
    EXPECT_EQ(ParseEdid(name).name, QStringLiteral("G TV"));
}

// The TV among the monitors, and its sound card among the sinks.
TEST(Pairing, RecognisesTheTvAndItsSoundCard)
{
    const std::vector<SoundCard> laptopSinks = {
        sink("alsa_output.pci-0000_00_1f.3.analog-stereo", "Built-in Audio Analog Stereo", "analog-output-speaker",
             "Speakers"),
        sink("alsa_output.pci-0000_00_1f.3.hdmi-stereo", "Built-in Audio Digital Stereo (HDMI)", "hdmi-output-0",
             "HDMI / DisplayPort"),
    };
    const std::vector<SoundCard> twoHdmi = {
        sink("alsa_output.pci-0000_01_00.1.hdmi-stereo", "GA104 High Definition Audio Controller Digital Stereo (HDMI)",
             "hdmi-output-0", "DELL U2415"),
        sink("alsa_output.pci-0000_01_00.1.hdmi-stereo-extra1",
             "GA104 High Definition Audio Controller Digital Stereo (HDMI 2)", "hdmi-output-1", "SAMSUNG"),
        sink("alsa_output.usb-headset.analog-stereo", "USB Headset Analog Stereo"),
    };
    const std::vector<SoundCard> pipewire = {
        sink("alsa_output.pci-0000_00_1f.3.hdmi-stereo", "LG TV", "[Out] HDMI1", "LG TV"),
        sink("alsa_output.pci-0000_00_1f.3.hdmi-stereo-extra1", "Built-in Audio Digital Stereo (HDMI 2)",
             "[Out] HDMI2", "HDMI / DisplayPort 2"),
    };
    struct Monitor {
        const char* connector;
        const char* edid;
    };
    struct Case {
        const char* what;
        std::vector<Monitor> monitors;
        std::vector<SoundCard> sinks;
        int tv; // index of the monitor recognised, -1: none (or more than one)
        int card;
    } cases[] = {
        { "a laptop and an LG TV that says it is 16 cm wide", { { "eDP-1", "laptop-panel" }, { "HDMI-1", "lg-tv" } },
          laptopSinks, 1, 1 },
        { "a large TV named SAMSUNG beside a monitor; its HDMI port names it",
          { { "DP-1", "desktop-monitor" }, { "HDMI-A-1", "samsung-tv" } }, twoHdmi, 1, 1 },
        { "PipeWire names the sink after the TV", { { "HDMI-1", "lg-tv" }, { "HDMI-2", "desktop-monitor" } }, pipewire,
          0, 0 },
        { "a desktop monitor with HDMI is no TV", { { "eDP-1", "laptop-panel" }, { "HDMI-1", "desktop-monitor" } },
          laptopSinks, -1, -1 },
        { "a projector of no size and no TV name", { { "HDMI-1", "projector" } }, laptopSinks, -1, -1 },
        { "a built-in panel is never the TV", { { "eDP-1", "lg-tv" } }, laptopSinks, -1, -1 },
        { "two TVs: neither is chosen", { { "HDMI-1", "lg-tv" }, { "HDMI-2", "samsung-tv" } }, twoHdmi, -1, -1 },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int found = -1, televisions = 0;
        for (int i = 0; i < static_cast<int>(c.monitors.size()); ++i) {
            const Monitor& m = c.monitors[static_cast<std::size_t>(i)];
            if (LooksLikeTelevision(QString::fromLatin1(m.connector), ParseEdid(edidFile(QString::fromLatin1(m.edid))))) {
                found = i;
                ++televisions;
            }
        }
        const int tv = televisions == 1 ? found : -1;
        EXPECT_EQ(tv, c.tv);
        const QString model = tv >= 0
            ? ParseEdid(edidFile(QString::fromLatin1(c.monitors[static_cast<std::size_t>(tv)].edid))).Model()
            : QString();
        EXPECT_EQ(tv >= 0 ? PairSoundCard(c.sinks, model) : -1, c.card);
    }
    // No name to go by: the only HDMI output, and none among several.
    EXPECT_EQ(PairSoundCard(laptopSinks, QString()), 1);
    EXPECT_EQ(PairSoundCard(twoHdmi, QStringLiteral("LG TV")), -1);
}

// A stored TV is found by what it is, not by where it hangs.
TEST(Pairing, FindsTheStoredTvAmongTheScreens)
{
    const ScreenIdentity lg = IdentityOf(QStringLiteral("HDMI-1"), ParseEdid(edidFile(QStringLiteral("lg-tv"))));
    const ScreenIdentity dell
        = IdentityOf(QStringLiteral("HDMI-1"), ParseEdid(edidFile(QStringLiteral("desktop-monitor"))));
    EXPECT_EQ(lg.ToText(), QStringLiteral("HDMI-1|GSM|LG TV|"));
    EXPECT_EQ(ScreenIdentity::FromText(lg.ToText()), lg);
    EXPECT_EQ(ScreenIdentity::FromText(QStringLiteral("HDMI-1|GSM")), ScreenIdentity()); // torn
    // Wayland gives make and model without an EDID.
    EXPECT_EQ(IdentityOf(QStringLiteral("HDMI-A-1"), EdidInfo(), QStringLiteral("GSM"), QStringLiteral("LG TV")).ToText(),
              QStringLiteral("HDMI-A-1|GSM|LG TV|"));

    auto on = [](ScreenIdentity id, const char* connector) {
        id.connector = QString::fromLatin1(connector);
        return id;
    };
    // Moved to another connector: still the TV. Another monitor on its connector: not the TV.
    EXPECT_EQ(FindScreen({ on(dell, "DP-1"), on(lg, "HDMI-2") }, lg), 1);
    EXPECT_EQ(FindScreen({ on(dell, "HDMI-1") }, lg), -1);
    // Two of the same model without serials: the one on the stored connector.
    EXPECT_EQ(FindScreen({ on(lg, "HDMI-2"), on(lg, "HDMI-1"), on(lg, "HDMI-3") }, lg), 1);
    // A serial tells two of the same model apart.
    ScreenIdentity other = dell;
    other.serial = QStringLiteral("OTHER");
    EXPECT_EQ(FindScreen({ on(other, "HDMI-1"), on(dell, "DP-2") }, dell), 1);
    // A name that holds a '|' (stored as '/') or blanks at its ends is found again once stored.
    ScreenIdentity piped = lg;
    piped.model = QStringLiteral("TV | 55 ");
    EXPECT_EQ(FindScreen({ on(dell, "DP-1"), piped }, ScreenIdentity::FromText(piped.ToText())), 1);
    // Only a connector stored (a virtual monitor, a server without EDIDs).
    EXPECT_EQ(FindScreen({ on(ScreenIdentity(), "PC"), on(ScreenIdentity(), "TV") },
                         ScreenIdentity::FromText(QStringLiteral("TV|||"))),
              1);
}
