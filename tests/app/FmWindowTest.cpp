// The Qt window driven as a user would, offscreen, against fakes of the platform.
#include "app/FmLayout.h"
#include "platform/qt/QtFmWindow.h"
#include "tests/fakes/Fakes.h"

#include <QComboBox>
#include <QPlainTextEdit>
#include <QtTest>

using namespace tarnwell;

class FmWindowTest : public QObject {
    Q_OBJECT
    struct Rig : fakes::Platform {
        fakes::RecordingMessageBox box; CheckState state;
        platform::QtFmWindow window{layout::kFm};
        Fm fm{window, {sockets, params, shells, box, files, tls}, state};
        Rig() { window.SetEvents(&fm), window.Load(), window.show(), window.activateWindow(); }
        ~Rig() { window.SetEvents(nullptr); }
        QWidget* operator[](const char* name) { return window.findChild<QWidget*>(name); }
    };
    QString painted;  // the report's text at its latest paint, once the filter is on its viewport
    bool eventFilter(QObject* viewport, QEvent* e) override {
        if (e->type() == QEvent::Paint) painted = static_cast<QPlainTextEdit*>(viewport->parent())->toPlainText();
        return false;
    }
private slots:
    void focusTabsEnterClickAndSize() {
        Rig rig;
        QTRY_COMPARE(QApplication::focusWidget(), rig["Txt_IP"]);  // the focus starts in the report
        for (const char* next : {"Cmd1", "Cmb1", "Txt_IP"}) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget(), rig[next]);
        }
        auto* combo = static_cast<QComboBox*>(rig["Cmb1"]);
        combo->clearEditText();
        combo->setFocus();
        QTest::keyClicks(combo, QStringLiteral("amazon.c\r"));  // Enter checks nothing, adds no item
        QVERIFY(rig.sockets.lookedUp.empty());
        QCOMPARE(combo->count(), 8);
        QTest::mouseClick(rig["Cmd1"], Qt::LeftButton);  // a preset's prefix: checked as typed
        QCOMPARE(rig.sockets.lookedUp.back(), std::string("amazon.c"));
        combo->setEditText(QStringLiteral("example.com"));
        QTest::mouseClick(rig["Cmd1"], Qt::LeftButton);  // the report comes back with its CRLF
        QVERIFY(rig.window.Txt_IP().Text().ends_with("\r\n93.184.216.34: проверить не удалось (нет соединения)\r\n\r\nIP адреса совпадают. Проблем "
                                                     "связанных с доменом [example.com] не обнаружено."));
        static_cast<QPlainTextEdit*>(rig["Txt_IP"])->viewport()->installEventFilter(this);
        rig.sockets.onSend = [&] {  // again: painted as it is written, a click meanwhile dropped
            QVERIFY(painted.endsWith(u"DNS сервер определен: 10.0.0.53\n\nРезультат:\n"));  // not the old verdict
            QVERIFY(QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor);
            QTimer::singleShot(0, [&] { QTest::mouseClick(rig["Cmd1"], Qt::LeftButton); });  // queued meanwhile
        };
        QTest::mouseClick(rig["Cmd1"], Qt::LeftButton);
        QCoreApplication::processEvents();
        QCOMPARE(rig.sockets.lookedUp.size(), 3u);  // one lookup a check
        QCOMPARE(rig["Txt_IP"]->palette().color(QPalette::Base), QColor(251, 249, 244));  // set at load
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
