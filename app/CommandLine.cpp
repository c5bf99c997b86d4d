#include "app/CommandLine.h"

#include "Version.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QUrl>

#include <cstring>

namespace
{
// "--com3" -> 3; 0 when the argument is not a port option.
int PortOptionNumber(const QString& name)
{
    static const QString kPrefix = QStringLiteral("--com");
    if (name.size() <= kPrefix.size() || !name.startsWith(kPrefix))
        return 0;
    bool isNumber = false;
    const QString digits = name.mid(kPrefix.size());
    const int number = digits.size() <= 4 && digits.front().isDigit() ? digits.toInt(&isNumber) : 0;
    return isNumber ? number : 0;
}

// The options QCommandLineParser knows. --comN takes any port number, which
// the parser cannot express: those are taken out before it runs, and the
// option "comN" only documents them.
struct Parser
{
    QCommandLineParser parser;
    QCommandLineOption demo{
        QStringLiteral("demo"),
        QStringLiteral("Run on the built-in simulated receiver (as COM2), with a Demo menu.")};
    QCommandLineOption ports{
        QStringLiteral("comN"),
        QStringLiteral("Use PATH (a device such as /dev/ttyUSB0, or a URL such as "
                       "rfc2217://host:port) for COMn in this run, e.g. --com3 /dev/ttyUSB0."),
        QStringLiteral("PATH")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Print this help and exit.")};
    QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")},
                               QStringLiteral("Print the version and exit.")};

    Parser()
    {
        parser.setApplicationDescription(
            QStringLiteral("Kavronel Download Manager: sends BIN and STB images to the receiver over a serial\n"
                           "line and reads its memory back. COM1..COM4 are /dev/ttyS0..3 unless mapped: --comN,\n"
                           "then KAVDM_COMn=PATH, then the choice made in Menu > Port Settings (kept in\n"
                           "~/.config/kavdm/kavdm.conf)."));
        parser.addOption(help);
        parser.addOption(version);
        parser.addOption(demo);
        parser.addOption(ports);
        parser.addPositionalArgument(QStringLiteral("image"),
                                     QStringLiteral("A BIN or STB image to load on the DOWNLOAD page."),
                                     QStringLiteral("[image]"));
    }
};

// Takes the --comN PATH and --comN=PATH pairs out of `arguments` (up to a
// lone "--") into `options`. False with options.strError set when one is wrong.
bool TakePortOptions(QStringList& arguments, GuiOptions& options)
{
    QStringList rest;
    for (qsizetype i = 0; i < arguments.size(); ++i)
    {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--"))
        {
            rest += arguments.mid(i);
            break;
        }
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? argument : argument.left(equals);
        if (!name.startsWith(QLatin1String("--com")) || name == QLatin1String("--comN"))
        {
            rest << argument;
            continue;
        }
        const int port = PortOptionNumber(name);
        if (port <= 0)
        {
            options.strError =
                "unknown option: " + argument.toStdString() + " (the port number is 1 or more)";
            return false;
        }
        QString value;
        if (equals >= 0)
            value = argument.mid(equals + 1);
        else if (i + 1 < arguments.size())
            value = arguments[++i];
        if (value.isEmpty())
        {
            options.strError = name.toStdString() + " needs a device path";
            return false;
        }
        options.portDevices[port] = value.toStdString();
    }
    arguments = rest;
    return true;
}

QString AbsoluteImagePath(const QString& argument)
{
    // A launcher may hand over a file:// URL instead of a path.
    const QString path =
        argument.startsWith(QLatin1String("file:")) ? QUrl(argument).toLocalFile() : argument;
    return path.isEmpty() ? QString() : QFileInfo(path).absoluteFilePath();
}
} // namespace

GuiOptions ParseGuiOptions(const QStringList& arguments)
{
    GuiOptions options;
    QStringList rest = arguments;
    if (!TakePortOptions(rest, options))
        return options;
    Parser p;
    rest.prepend(QStringLiteral("kavdm-gui"));
    const bool parsed = p.parser.parse(rest);
    options.bHelp = p.parser.isSet(p.help);
    options.bVersion = p.parser.isSet(p.version);
    if (!parsed)
    {
        options.strError = p.parser.errorText().toStdString();
        return options;
    }
    if (p.parser.isSet(p.ports))
    {
        options.strError = "--comN: N is the port number, e.g. --com3 /dev/ttyUSB0";
        return options;
    }
    options.bDemo = p.parser.isSet(p.demo);
    const QStringList images = p.parser.positionalArguments();
    if (images.size() > 1)
    {
        options.strError = "one image at a time: " + images.join(QLatin1Char(' ')).toStdString();
        return options;
    }
    if (!images.isEmpty())
    {
        options.strImage = AbsoluteImagePath(images.front());
        if (options.strImage.isEmpty())
            options.strError = "not a file: " + images.front().toStdString();
    }
    return options;
}

QString GuiHelpText()
{
    Parser p;
    return p.parser.helpText();
}

bool AsksOnlyForText(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--") == 0)
            return false;
        for (const char* option : {"-h", "--help", "-V", "--version"})
        {
            if (std::strcmp(argv[i], option) == 0)
                return true;
        }
    }
    return false;
}
