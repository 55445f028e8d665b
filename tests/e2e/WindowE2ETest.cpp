// End to end in the window: the check procedure with the real platform layer
// (PosixSockets, ResolvConfNetworkParams, PosixShellFactory) in the real Qt
// window, a domain typed into the box and the button clicked. Message boxes
// are recorded instead of shown. tests/e2e/run.sh runs it once per scenario
// inside a network namespace of its own and passes the scenario:
//   E2E_DOMAIN    the domain typed into the box (UTF-8)
//   E2E_EXPECTED  files of the expected report, LF line breaks, ':' between
//                 them; the report must equal one of them (CRLF in the box)
//   E2E_CONSOLE   tarnwell-check's standard output for the same scenario: the
//                 window's report byte for byte, line breaks aside
//   E2E_BOXES     file of the expected message boxes, one "TITLE: PROMPT" a line
//   E2E_STATUS    the outcome as tarnwell-check's exit status (0, 1, 2, 3)
//   E2E_MIN_MS, E2E_MAX_MS   bounds of the click's duration
// Without NETNS_NAME (set by netns.sh) it skips: outside a namespace of its
// own the check would ask this machine's DNS server.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/posix/PosixShell.h"
#include "platform/posix/PosixSockets.h"
#include "platform/posix/ResolvConf.h"
#include "platform/qt/QtFmWindow.h"
#include "tests/fakes/Fakes.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QtTest>

#include <fstream>
#include <sstream>

using namespace tarnwell;

namespace {

std::string Env(const char* name) {
    const QByteArray value = qgetenv(name);
    return std::string(value.constData(), static_cast<std::size_t>(value.size()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) qFatal("cannot read %s", path.c_str());
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// The console checker's exit status for the way the check ended.
int StatusOf(const Fm& fm, const CheckState& state) {
    switch (fm.LastCheckEnd()) {
        case CheckEnd::Match: return 0;
        case CheckEnd::Mismatch: return state.Answers > 0 ? 1 : 3;
        default: return 2;
    }
}

}  // namespace

class WindowE2ETest : public QObject {
    Q_OBJECT

private slots:
    void clickGivesTheExpectedReport() {
        if (qEnvironmentVariableIsEmpty("NETNS_NAME") || qEnvironmentVariableIsEmpty("E2E_DOMAIN"))
            QSKIP("runs only inside a namespace of tests/e2e/run.sh");

        platform::PosixSockets sockets;
        platform::ResolvConfNetworkParams params;
        platform::PosixShellFactory shells;
        fakes::RecordingMessageBox box;
        CheckState state;
        platform::QtFmWindow window(layout::kFm);
        Fm fm(window, {sockets, params, shells, box}, state);
        window.SetEvents(&fm);
        window.Load();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        const QString domain = QString::fromStdString(Env("E2E_DOMAIN"));
        auto* combo = window.findChild<QComboBox*>(QStringLiteral("Cmb1"));
        auto* button = window.findChild<QPushButton*>(QStringLiteral("Cmd1"));
        QVERIFY(combo && button);
        combo->clearEditText();
        // Typed key by key; QTest::keyClicks takes ASCII only, so each
        // character goes as a key whose event carries its text.
        for (const QChar ch : domain)
            QTest::sendKeyEvent(QTest::Click, combo, static_cast<Qt::Key>(ch.toUpper().unicode()),
                                QString(ch), Qt::NoModifier);
        QCOMPARE(combo->currentText(), domain);

        QElapsedTimer timer;
        timer.start();
        QTest::mouseClick(button, Qt::LeftButton);
        const qint64 elapsed = timer.elapsed();
        window.SetEvents(nullptr);
        qInfo("click took %lld ms", elapsed);

        const std::string report = window.Txt_IP().Text();
        bool matched = false;
        for (const QString& path : QString::fromStdString(Env("E2E_EXPECTED")).split(QLatin1Char(':')))
            matched = matched || report == Replace(ReadFile(path.toStdString()), "\n", "\r\n");
        if (!matched) qWarning("report:\n%s", Replace(report, "\r\n", "\n").c_str());
        QVERIFY2(matched, "the report is none of the expected ones");

        // The console checker printed the same report: LF for CRLF and a
        // final line break.
        std::string console = Replace(report, "\r\n", "\n");
        if (!console.empty() && console.back() != '\n') console += '\n';
        QCOMPARE(ReadFile(Env("E2E_CONSOLE")), console);

        std::string boxes;
        for (const auto& shown : box.shown) boxes += shown.title + ": " + shown.prompt + "\n";
        QCOMPARE(boxes, ReadFile(Env("E2E_BOXES")));
        QCOMPARE(StatusOf(fm, state), qEnvironmentVariableIntValue("E2E_STATUS"));
        QVERIFY2(elapsed >= qEnvironmentVariableIntValue("E2E_MIN_MS"), "the click ended too soon");
        QVERIFY2(elapsed <= qEnvironmentVariableIntValue("E2E_MAX_MS"), "the click took too long");
    }
};

QTEST_MAIN(WindowE2ETest)
#include "WindowE2ETest.moc"
