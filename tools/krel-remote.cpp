// krel-remote: a software remote control. Sends one key press to the running program.
//
//   krel-remote [--family 04FB|53AC] NAME     NAME: Power, Digit0..Digit9, Back, LeaveVideo, LeaveVideo2,
//                                             VolumeUp, VolumeDown, NextPage, PreviousPage,
//                                             PlayPause, Subtitle, AudioTrack, Up, Down, Left, Right, Ok
//   krel-remote raw CCCC KK                   a custom code and key byte in hexadecimal

#include <iostream>

#include <QCoreApplication>

#include "remote/RemoteCodes.h"
#include "remote/RemoteSocket.h"

namespace
{

int usage()
{
    std::cerr << "usage: krel-remote [--family 04FB|53AC] NAME\n"
                 "       krel-remote raw CCCC KK\n"
                 "NAME: Power, Digit0..Digit9, Back, LeaveVideo, LeaveVideo2, VolumeUp, VolumeDown, NextPage, "
                 "PreviousPage, PlayPause, Subtitle, AudioTrack, Up, Down, Left, Right, Ok\n";
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    std::uint16_t family = kFamilyLgSamsung;
    if (args.size() >= 2 && args[0] == QLatin1String("--family")) {
        const auto parsed = ParseRemoteLine(args[1].toLatin1() + " 00");
        if (!parsed || (parsed->customCode != kFamilyLgSamsung && parsed->customCode != kFamilySonyToshiba)) {
            std::cerr << "krel-remote: unknown family \"" << args[1].toStdString() << "\" (04FB or 53AC)\n";
            return 2;
        }
        family = parsed->customCode;
        args = args.mid(2);
    }

    RemotePress press;
    if (args.size() == 3 && args[0] == QLatin1String("raw")) {
        const auto parsed = ParseRemoteLine((args[1] + QLatin1Char(' ') + args[2]).toLatin1());
        if (!parsed) {
            std::cerr << "krel-remote: raw needs a 4-digit hex code and a 2-digit hex key, e.g. raw 04FB 10\n";
            return 2;
        }
        press = *parsed;
    } else if (args.size() == 1 && CommandByName(args[0]) > 32) {
        // A command of our own: by name, since no receiver key gives it.
        const QByteArray reply = SendRemoteLine(RemoteSocketPath(), "key " + args[0].toLatin1() + "\n", 5000);
        if (reply != "ok") {
            std::cerr << "krel-remote: " << (reply.isEmpty() ? std::string("krel is not running or does not answer")
                                                               : reply.toStdString())
                      << "\n";
            return 1;
        }
        return 0;
    } else if (args.size() == 1) {
        const int command = CommandByName(args[0]);
        const auto key = command ? KeyByteFor(family, command) : std::nullopt;
        if (!key) {
            std::cerr << "krel-remote: unknown key \"" << args[0].toStdString() << "\"\n";
            return usage();
        }
        press = { family, *key };
    } else {
        return usage();
    }

    const QString path = RemoteSocketPath();
    const QByteArray reply = SendRemoteLine(path, FormatRemoteLine(press), 5000);
    if (reply != "ok") {
        std::cerr << "krel-remote: "
                  << (reply.isEmpty() ? "krel is not running or does not answer (on " + path.toStdString() + ")"
                                      : reply.toStdString())
                  << "\n";
        return 1;
    }
    return 0;
}
