// The window program: creates the main window and runs until it is closed.
#include "app/Fm.h"
#include "app/FmLayout.h"
#include "platform/posix/PosixShell.h"
#include "platform/posix/PosixSockets.h"
#include "platform/posix/ResolvConf.h"
#include "platform/qt/QtFmWindow.h"
#include "platform/qt/QtMessageBox.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarnwell"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/tarnwell/tarnwell-32.png")));

    tarnwell::platform::PosixSockets sockets;
    tarnwell::platform::ResolvConfNetworkParams networkParams;
    tarnwell::platform::PosixShellFactory shells;
    tarnwell::platform::QtMessageBox messageBox;
    tarnwell::CheckState state;

    tarnwell::platform::QtFmWindow window(tarnwell::layout::kFm);
    messageBox.SetOwner(&window);
    tarnwell::Fm fm(window, {sockets, networkParams, shells, messageBox}, state);
    window.SetEvents(&fm);
    window.Load();
    window.CenterOnScreen();
    window.show();
    const int status = QApplication::exec();
    window.SetEvents(nullptr);
    return status;
}
