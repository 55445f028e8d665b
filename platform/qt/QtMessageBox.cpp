#include "platform/qt/QtMessageBox.h"

#include <QMessageBox>

namespace tarnwell::platform {

void QtMessageBox::Show(const std::string& prompt, int style, const std::string& title) {
    QMessageBox box(style == kMbCritical ? QMessageBox::Critical : QMessageBox::Information, QString::fromStdString(title),
                    QString::fromStdString(prompt), QMessageBox::Ok, owner_);
    box.setObjectName(QStringLiteral("MsgBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace tarnwell::platform
