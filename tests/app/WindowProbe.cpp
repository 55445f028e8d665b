// tarnwell-qt-probe NAME: where the control of that layout name is in the Qt window, found by its object
// name, for tests/e2e/run.sh: the centre "X Y" in the window's pixels. Exit status 1 without such a control.
#include "app/FmLayout.h"
#include "platform/qt/QtFmWindow.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    tarnwell::platform::QtFmWindow window(tarnwell::layout::kFm);
    const QWidget* control = window.findChild<QWidget*>(QString::fromUtf8(argc == 2 ? argv[1] : ""));
    const QPoint at = control ? control->mapTo(&window, control->rect().center()) : QPoint();
    return control && std::printf("%d %d\n", at.x(), at.y()) > 0 ? 0 : 1;
}
