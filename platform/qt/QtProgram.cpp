// The window program on Qt: answers --help and --version, makes sure there
// is a display, then creates the main window and runs until it is closed.
#include "common/ExitStatus.h"
#include "platform/Program.h"
#include "platform/qt/QtFmWindow.h"
#include "platform/qt/QtMessageBox.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tarnwell::platform {

namespace {

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
    }

    // Qt names the program in the usage line by its path, or by a stand-in
    // before QApplication exists: the name is put there instead.
    QString HelpText() const {
        return QStringLiteral("Usage: tarnwell [options]\n") + parser.helpText().section(u'\n', 1);
    }
};

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

}  // namespace

int RunWindowProgram(int argc, char* argv[], const FormSpec& form, const MakeFormEvents& make) {
    // --help and --version before QApplication, which needs a display. The
    // options Qt takes (-platform NAME and the like) are unknown to this
    // parser: it finds -h and -V among them and leaves the rest to Qt.
    {
        QStringList args;
        for (int i = 0; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
        CommandLine line;
        line.parser.parse(args);
        if (line.parser.isSet(line.help)) {
            std::fputs(qPrintable(line.HelpText()), stdout);
            return 0;
        }
        if (line.parser.isSet(line.version)) {
            std::fputs("tarnwell " TARNWELL_VERSION "\n", stdout);
            return 0;
        }
    }
    if (!HasDisplay(argc, argv)) {
        std::fputs("tarnwell: no display: neither DISPLAY nor WAYLAND_DISPLAY is set"
                   " (run it in a desktop session, or give -platform NAME)\n",
                   stderr);
        return 1;
    }

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwell"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnwell/tarnwell-32.png")));

    // What is left once Qt has taken its own options must be known here.
    {
        CommandLine line;
        if (!line.parser.parse(QApplication::arguments()) ||
            !line.parser.positionalArguments().isEmpty()) {
            const QString error = line.parser.errorText().isEmpty()
                                      ? QStringLiteral("Unexpected argument '%1'.")
                                            .arg(line.parser.positionalArguments().constFirst())
                                      : line.parser.errorText();
            std::fprintf(stderr, "tarnwell: %s See tarnwell --help.\n", qPrintable(error));
            return kStatusUsage;
        }
    }

    QtMessageBox messageBox;
    QtFmWindow window(form);
    messageBox.SetOwner(&window);
    const std::unique_ptr<FormEvents> events = make(window, messageBox);
    window.SetEvents(events.get());
    window.Load();
    window.CenterOnScreen();
    window.show();
    const int status = QApplication::exec();
    window.SetEvents(nullptr);
    return status;
}

}  // namespace tarnwell::platform
