// The Qt window driven as a user would, offscreen, against fakes of the platform: one slot a behaviour.
#include "app/FmLayout.h"
#include "platform/qt/QtFmWindow.h"
#include "tests/fakes/Fakes.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QtTest>

using namespace tarnwell;
using namespace std::chrono_literals;

class FmWindowTest : public QObject {
    Q_OBJECT
    struct Rig : fakes::Platform {
        fakes::RecordingMessageBox box;
        platform::QtFmWindow window{layout::kFm};
        Fm fm{window, {sockets, params, shells, box, files, tls, http, [this] { window.Serve(); }}};
        Rig() { window.SetEvents(&fm), window.Load(), window.show(), window.activateWindow(); }
        ~Rig() { window.SetEvents(nullptr); }
        QWidget* operator[](const char* name) { return window.findChild<QWidget*>(name); }
        QString Report() { return static_cast<QPlainTextEdit*>((*this)["Txt_IP"])->toPlainText(); }
        void Click() { QTest::mouseClick((*this)["Cmd1"], Qt::LeftButton); }
    };
    QString painted, atSend, midWait;  // the report at its latest paint (filter on its viewport), at the send, mid-wait
    // Checks on a silent server waited for `wait`; `during` runs once the wait has begun.
    void ClickAndWait(Rig& rig, std::function<void()> during, std::chrono::milliseconds wait = 300ms) {
        rig.sockets.silent = true, rig.fm.options.replyWait = wait, rig.window.Cmb1().SetText("example.com");
        rig.sockets.onSend = [this, during] { atSend = painted, QTimer::singleShot(0, during); };
        rig.Click();
    }
    bool eventFilter(QObject* viewport, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted = static_cast<QPlainTextEdit*>(viewport->parent())->toPlainText();
        return false;
    }
    static constexpr char16_t kAsked[] = u"DNS сервер определен: 10.0.0.53\n\nРезультат:\n";
private slots:
    void focusStartsInTheReportAndTabsInLayoutOrder() {
        Rig rig;
        QTRY_COMPARE(QApplication::focusWidget(), rig["Txt_IP"]);
        for (const char* next : {"Cmd1", "Cmb1", "Txt_IP"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), rig[next]);
        }
    }
    void enterChecksNothingAndTheClickChecksAsTyped() {
        Rig rig;
        auto* combo = static_cast<QComboBox*>(rig["Cmb1"]);
        combo->clearEditText(), combo->setFocus();
        QTest::keyClicks(combo, QStringLiteral("amazon.c\r"));  // a preset's prefix; no item added
        QVERIFY(rig.sockets.lookedUp.empty());
        QCOMPARE(combo->count(), 8);
        rig.Click();
        QCOMPARE(rig.sockets.lookedUp, std::vector<std::string>{"amazon.c"});
        combo->setEditText(QStringLiteral("example.com")), rig.Click();  // the report comes back with its CRLF
        QVERIFY(rig.window.Txt_IP().Text().ends_with("\r\n93.184.216.34: проверить не удалось (нет соединения)\r\n\r\nIP адреса совпадают. Проблем "
                                                     "связанных с доменом [example.com] не обнаружено."));
    }
    void paintsAsWrittenAndWhileItWaits() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        QWidget* viewport = static_cast<QPlainTextEdit*>(rig["Txt_IP"])->viewport();
        viewport->installEventFilter(this);  // updated mid-wait, as when the window is uncovered:
        ClickAndWait(rig, [&] { painted.clear(), viewport->update(), QTimer::singleShot(100, [&] { midWait = painted; }); });
        QVERIFY(atSend.endsWith(kAsked) && midWait.endsWith(kAsked));  // painted as written, and in the wait
    }
    void inputDuringTheCheckIsDropped() {
        Rig rig; bool waitCursor = false;
        ClickAndWait(rig, [&] {
            waitCursor = QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            rig.Click(), QTest::keyClicks(rig["Txt_IP"], QStringLiteral("typed"));
        });
        QVERIFY(waitCursor && !rig.Report().contains(u"typed") && rig.Report().contains(u"Нет ответа от DNS"));
        QCOMPARE(rig.sockets.lookedUp.size(), 1u);  // no second check
    }
    void eventsRunWhileTheResolverAndTheServerAreWaitedFor() {
        Rig rig;
        rig.sockets.resolverTime = 300ms;
        int resolving = 0, asking = 0; QTimer tick;  // ticks while the resolver and the server are waited for
        connect(&tick, &QTimer::timeout, [&] { resolving += rig.Report().endsWith(u"браузера)\n\nРезультат:\n"); });
        connect(&tick, &QTimer::timeout, [&] { asking += rig.Report().endsWith(kAsked); });
        tick.start(20);
        ClickAndWait(rig, [] {});
        QVERIFY(resolving >= 5 && asking >= 5);
    }
    void closedMidCheckTheWindowUnloadsOnceTheCheckIsUnwound() {
        Rig rig;
        bool refused = false; QElapsedTimer clock; clock.start();
        ClickAndWait(rig, [&] { refused = !rig.window.close(); }, 5s);  // refused until the check is unwound
        QVERIFY(refused && clock.elapsed() < 1000 && !rig.Report().contains(u"Нет ответа"));  // not the whole wait
        QVERIFY(!rig.window.isVisible() && rig.sockets.open == 0);  // the check's socket closed as it unwound
    }
    void keepsItsSizeThroughDragsAndMinimizing() {
        Rig rig;
        const auto back = layout::kReportBackColor;  // set at load
        QCOMPARE(rig["Txt_IP"]->palette().color(QPalette::Base), QColor(back.red, back.green, back.blue));
        const QSize outer(519, 476);  // 7785 x 7140 twips at 96 DPI
        QTRY_COMPARE(rig.window.frameGeometry().size(), outer);
        rig.window.resize(300, 200);  // as a drag of the border would
        QTRY_COMPARE(rig.window.frameGeometry().size(), outer);
        rig.window.showMinimized(), rig.window.resize(300, 200);  // refused while minimized, then restored
        rig.window.showNormal();
        QTRY_COMPARE(rig.window.frameGeometry().size(), outer);
    }
    void failureLeftByAHandlerIsDropped() {
        struct : platform::FormEvents {
            void Form_Load() override { throw Failure("load"); }
            void Form_Resize() override { throw Failure("resize"); }
            void Form_Unload(std::int16_t&) override { throw Failure("unload"); }
            void Cmd1_Click() override { throw Failure("click"); }
        } failing;
        platform::QtFmWindow window{layout::kFm};
        window.SetEvents(&failing), window.Load(), window.show();
        QTest::mouseClick(window.findChild<QWidget*>("Cmd1"), Qt::LeftButton);
        QVERIFY(window.close());  // not cancelled by the unload that failed
    }
};

QTEST_MAIN(FmWindowTest)
#include "FmWindowTest.moc"
