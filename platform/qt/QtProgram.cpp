// The window program on Qt: judges the command line and answers --help and
// --version, makes sure there is a display, then creates the main window and
// runs until it is closed.
#include "common/ExitStatus.h"
#include "platform/Program.h"
#include "platform/qt/QtFmWindow.h"
#include "platform/qt/QtMessageBox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string_view>
#include <utility>

namespace tarnwell::platform {

namespace {

// Qt's own options, taken by QApplication: known here so that the command
// line is judged whole before there is a display.
constexpr const char* kQtValueOptions[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "session", "display", "name", "style",
    "stylesheet", "qmljsdebugger"};
constexpr const char* kQtFlagOptions[] = {"reverse", "widgetcount", "sync", "nograb", "dograb",
                                          "testability"};

struct CommandLine {
    QCommandLineParser parser;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Show this help and exit.")};
    QCommandLineOption version{{QStringLiteral("V"), QStringLiteral("version")},
                               QStringLiteral("Show the version and exit.")};

    CommandLine() {
        parser.setApplicationDescription(QStringLiteral(
            "Checks in a window whether the address this computer uses for a web domain has\n"
            "been substituted. Qt's own options, such as -platform NAME, are accepted too."));
        // -platform and the other Qt options are one dash and a word.
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOption(help);
        parser.addOption(version);
        for (const char* name : kQtValueOptions) AddHidden(name, QStringLiteral("value"));
        for (const char* name : kQtFlagOptions) AddHidden(name, QString());
    }

    void AddHidden(const char* name, const QString& value) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), value);
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    // Qt names the program in the usage line by its path, or by a stand-in
    // before QApplication exists: the name is put there instead.
    QString HelpText() const {
        return QStringLiteral("Usage: tarnwell [options]\n") + parser.helpText().section(u'\n', 1);
    }
};

// Writes the whole text to standard output; false when it cannot.
bool Print(const QString& text) {
    const QByteArray bytes = text.toLocal8Bit();
    return std::fwrite(bytes.constData(), 1, bytes.size(), stdout) == static_cast<std::size_t>(bytes.size()) &&
           std::fflush(stdout) == 0;
}

// --help, --version and a command line that is not understood end the
// program before anything else: the exit status, or nothing to go on.
std::optional<int> Answer(int argc, char* argv[]) {
    QStringList args;
    for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    CommandLine line;
    if (!line.parser.parse(args) || !line.parser.positionalArguments().isEmpty()) {
        const QString error = line.parser.errorText().isEmpty()
                                  ? QStringLiteral("Unexpected argument '%1'.")
                                        .arg(line.parser.positionalArguments().constFirst())
                                  : line.parser.errorText();
        std::fprintf(stderr, "tarnwell: %s See tarnwell --help.\n", qPrintable(error));
        return kStatusUsage;
    }
    if (!line.parser.isSet(line.help) && !line.parser.isSet(line.version)) return std::nullopt;
    if (Print(line.parser.isSet(line.help) ? line.HelpText() : QStringLiteral("tarnwell " TARNWELL_VERSION "\n")))
        return 0;
    std::fputs("tarnwell: cannot write to standard output\n", stderr);
    return kStatusIoError;
}

bool IsSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

// Qt needs an X or Wayland display unless a platform plugin is named (by
// QT_QPA_PLATFORM or -platform, e.g. offscreen or vnc). Without any, it
// aborts from inside the QApplication constructor.
bool HasDisplay(int argc, char* argv[]) {
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM")) return true;
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "-platform" || arg == "--platform") return true;
    }
    return false;
}

// While QApplication starts: its messages wait, and the fatal one of a
// platform plugin that cannot reach its display ends the program with one
// line, the first reason Qt gave, as when there is no display at all.
QStringList startMessages;

void OnStartMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type != QtFatalMsg) {
        startMessages << qFormatLogMessage(type, context, message);
        return;
    }
    const QString reason = startMessages.isEmpty() ? message.section(u'\n', 0, 0) : startMessages.constFirst();
    std::fprintf(stderr, "tarnwell: no display: %s\n", qPrintable(reason.simplified()));
    std::_Exit(1);  // inside Qt's constructor: nothing of it may run on
}

}  // namespace

int RunWindowProgram(int argc, char* argv[], const FormDesign& form, const MakeFormEvents& make) {
    // The command line before QApplication, which needs a display.
    if (const std::optional<int> status = Answer(argc, argv)) return *status;
    if (!HasDisplay(argc, argv)) {
        std::fputs("tarnwell: no display: neither DISPLAY nor WAYLAND_DISPLAY is set"
                   " (run it in a desktop session, or give -platform NAME)\n",
                   stderr);
        return 1;
    }

    const QtMessageHandler before = qInstallMessageHandler(OnStartMessage);
    QApplication application(argc, argv);
    qInstallMessageHandler(before);
    for (const QString& message : std::exchange(startMessages, {})) std::fprintf(stderr, "%s\n", qPrintable(message));
    QApplication::setApplicationName(QStringLiteral("tarnwell"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnwell/tarnwell-32.png")));

    try {
        QtMessageBox messageBox;
        QtFmWindow window(form);
        messageBox.SetOwner(&window);
        const std::unique_ptr<FormEvents> events = make(window, messageBox, [&window] { window.Serve(); });
        if (!events) return kStatusUsage;
        window.SetEvents(events.get());
        window.Load();
        window.CenterOnScreen();
        window.show();
        const int status = QApplication::exec();
        window.SetEvents(nullptr);
        return status;
    } catch (const std::exception&) {
        QMessageBox::critical(nullptr, QStringLiteral("Tarnwell"), QStringLiteral("The window cannot be created."));
        return 1;
    }
}

}  // namespace tarnwell::platform
