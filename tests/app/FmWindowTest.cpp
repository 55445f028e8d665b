// The Qt window: layout from the twips table, fonts, tab order, colours,
// presets and the fixed size, driven as a user would under an offscreen or
// virtual display.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/qt/QtFmWindow.h"
#include "tests/fakes/Fakes.h"

#include <QApplication>
#include <QComboBox>
#include <QFontInfo>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

using namespace tarnwell;

class FmWindowTest : public QObject {
    Q_OBJECT

    struct Rig {
        fakes::FakeSockets sockets;
        fakes::FakeNetworkParams params;
        fakes::FakeShellFactory shells;
        fakes::RecordingMessageBox box;
        CheckState state;
        platform::QtFmWindow window{layout::kFm};
        Fm fm{window, {sockets, params, shells, box}, state};
        Rig() {
            window.SetEvents(&fm);
            window.Load();
            window.show();
        }
        ~Rig() { window.SetEvents(nullptr); }
        template <class W>
        W* Find(const char* name) {
            return window.findChild<W*>(QString::fromLatin1(name));
        }
    };

private slots:
    void geometryFromTwips() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        // 15 twips are one device-independent pixel; controls inside the
        // frame are placed relative to it.
        QCOMPARE(rig.Find<QGroupBox>("Frame1")->geometry(), QRect(8, 8, 497, 57));
        QCOMPARE(rig.Find<QComboBox>("Cmb1")->geometry(), QRect(8, 19, 313, 24));
        QCOMPARE(rig.Find<QPushButton>("Cmd1")->geometry(), QRect(336, 19, 145, 25));
        QCOMPARE(rig.Find<QPlainTextEdit>("Txt_IP")->geometry(), QRect(8, 72, 496, 361));
        QCOMPARE(rig.Find<QComboBox>("Cmb1")->parentWidget()->objectName(), QStringLiteral("Frame1"));
        QCOMPARE(rig.Find<QGroupBox>("Frame1")->title(), QStringLiteral("Проверка DNS записей домена "));
        QCOMPARE(rig.Find<QPushButton>("Cmd1")->text(), QStringLiteral("Проверить сайт"));
        QVERIFY(rig.window.windowTitle().startsWith(QStringLiteral("Tarnwell 1.1 - ")));
        QVERIFY(rig.window.windowTitle().size() > 15);
    }

    void outerSizeIsFixed() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        const QSize outer(519, 476);  // 7785 x 7140 twips
        QTRY_COMPARE(rig.window.frameGeometry().size(), outer);
        rig.window.resize(300, 200);  // as a drag of the border would
        QTRY_COMPARE(rig.window.frameGeometry().size(), outer);
        rig.window.showMinimized();  // refused silently while minimized
        rig.window.showNormal();
        QTRY_COMPARE(rig.window.frameGeometry().size(), outer);
    }

    void fontsResolveToArialMetrics() {
        Rig rig;
        const QFontInfo combo(rig.Find<QComboBox>("Cmb1")->font());
        const QFontInfo report(rig.Find<QPlainTextEdit>("Txt_IP")->font());
        for (const QFontInfo& info : {combo, report}) {
            QVERIFY2(info.family() == QLatin1String("Arial") || info.family() == QLatin1String("Liberation Sans"),
                     qPrintable(info.family()));
            QCOMPARE(info.weight(), 400);
            QVERIFY(!info.italic());
        }
        qInfo("font used for Cmb1: %s %.2fpt; Txt_IP: %s %.2fpt", qPrintable(combo.family()), combo.pointSizeF(),
              qPrintable(report.family()), report.pointSizeF());
        QCOMPARE(rig.Find<QComboBox>("Cmb1")->font().pointSizeF(), 9.75);
        QCOMPARE(rig.Find<QPlainTextEdit>("Txt_IP")->font().pointSizeF(), 9.0);
    }

    void presetsColoursAndFocus() {
        Rig rig;
        QVERIFY(QTest::qWaitForWindowExposed(&rig.window));
        auto* combo = rig.Find<QComboBox>("Cmb1");
        QCOMPARE(combo->count(), 8);
        QCOMPARE(combo->currentText(), combo->itemText(2));
        QStringList items;
        for (int i = 0; i < combo->count(); ++i) items << combo->itemText(i);
        QStringList sorted = items;
        sorted.sort();
        QVERIFY(items != sorted);  // in the fixed order, not sorted
        auto* report = rig.Find<QPlainTextEdit>("Txt_IP");
        QCOMPARE(report->palette().color(QPalette::Base), QColor(251, 249, 244));
        QCOMPARE(report->palette().color(QPalette::Text), QColor(Qt::black));
        QCOMPARE(report->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
        QCOMPARE(report->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
        QVERIFY(!report->isReadOnly());

        // Focus starts in the report; Tab goes to the button, then the box.
        rig.window.activateWindow();
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(report));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(rig.Find<QPushButton>("Cmd1")));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(combo));
    }

    void clickRunsTheCheckAndKeepsCrLf() {
        Rig rig;
        rig.box.report = nullptr;
        rig.sockets.hosts["example.com"] = {{10, 0, 0, 1}};
        rig.params.Add("10.0.0.53");
        rig.sockets.server = [](const std::vector<std::uint8_t>& q) {
            return std::vector<std::vector<std::uint8_t>>{fakes::ReplyTo(q, {fakes::ARecord({10, 0, 0, 1})})};
        };
        auto* combo = rig.Find<QComboBox>("Cmb1");
        combo->clearEditText();
        QTest::keyClicks(combo, QStringLiteral("example.com"));
        QTest::keyClick(combo, Qt::Key_Return);  // Enter does not press the button
        QVERIFY(rig.sockets.sent.empty());
        QCOMPARE(combo->count(), 8);
        QTest::mouseClick(rig.Find<QPushButton>("Cmd1"), Qt::LeftButton);
        const std::string text = rig.window.Txt_IP().Text();
        QVERIFY(text.starts_with("Начало проверки. Домен: [example.com]\r\n\r\n"));
        QVERIFY(text.ends_with("\r\n10.0.0.1\r\n\r\nIP адреса совпадают. Проблем связанных с доменом [example.com] не обнаружено."));
        QCOMPARE(rig.Find<QPlainTextEdit>("Txt_IP")->toPlainText().count(QLatin1Char('\r')), 0);

        // Typed text stays until the next check clears it.
        rig.window.Txt_IP().SetText("note\r\n");
        QTest::keyClicks(rig.Find<QPlainTextEdit>("Txt_IP"), QStringLiteral("x"));
        QVERIFY(rig.window.Txt_IP().Text().find("\r\n") != std::string::npos);
        combo->setEditText(QStringLiteral("abc"));
        QTest::mouseClick(rig.Find<QPushButton>("Cmd1"), Qt::LeftButton);
        QCOMPARE(rig.window.Txt_IP().Text(), std::string());
        QCOMPARE(rig.box.shown.size(), std::size_t{1});
    }
};

QTEST_MAIN(FmWindowTest)
#include "FmWindowTest.moc"
