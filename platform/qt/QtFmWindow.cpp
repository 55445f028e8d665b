#include "platform/qt/QtFmWindow.h"

#include "platform/Serve.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextCursor>
#include <QWindow>

#include <algorithm>

namespace tarnwell::platform {

namespace {

constexpr int kDipsPerInch = 96;

int Pixels(int twips) { return TwipsToPixels(twips, kDipsPerInch); }

// How long the input that came during a check may take to arrive and be
// dropped once the check has ended.
constexpr int kDropInputMs = 50;

// The events of the user's keyboard, mouse and touch.
bool IsUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

QFont FontOf(const FontDesign& wanted, const QFont& base) {
    // Qt chooses faces by name and has no notion of a character set; the
    // face is asked for by name and Cyrillic comes with it.
    QFont font(base);
    font.setFamily(QString::fromUtf8(wanted.face));
    font.setPointSizeF(wanted.points);
    font.setWeight(static_cast<QFont::Weight>(wanted.weight));
    font.setItalic(false);
    font.setUnderline(false);
    font.setStrikeOut(false);
    return font;
}

}  // namespace

// The domain box: an editable drop-down list whose typed text stays as
// typed (Enter adds nothing to the list).
class QtFmWindow::Combo : public ComboBox {
public:
    explicit Combo(QComboBox* box) : box_(box) {}
    void AddItem(const std::string& item) override { box_->addItem(QString::fromStdString(item)); }
    std::string Text() override { return box_->currentText().toStdString(); }
    void SetText(const std::string& text) override {
        box_->setEditText(QString::fromStdString(text));
    }

private:
    QComboBox* box_;
};

// The report box. Qt keeps line feeds only; the logic sees CRLF. Each
// change is painted at once: the check writes between blocking calls, with
// no event loop running to paint it later.
class QtFmWindow::Report : public TextBox {
public:
    explicit Report(QPlainTextEdit* edit) : edit_(edit) {}
    std::string Text() override {
        QString text = edit_->toPlainText();
        text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
        return text.toStdString();
    }
    void SetText(const std::string& text) override {
        QString plain = QString::fromStdString(text);
        plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        edit_->setPlainText(plain);
        Paint();
    }
    void Append(const std::string& piece) override {
        QString plain = QString::fromStdString(piece);
        plain.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        QTextCursor end(edit_->document());
        end.movePosition(QTextCursor::End);
        end.insertText(plain);
        Paint();
    }
    void SetBackColor(Rgb colour) override {
        QPalette palette = edit_->palette();
        palette.setColor(QPalette::Base, QColor(colour.red, colour.green, colour.blue));
        edit_->setPalette(palette);
    }

private:
    // Paints what is out of date in the window, the text among it, now.
    void Paint() { edit_->viewport()->repaint(); }

    QPlainTextEdit* edit_;
};

QtFmWindow::QtFmWindow(const FormDesign& form, QWidget* parent) : QWidget(parent) {
    setObjectName(QString::fromUtf8(form.name));
    setWindowTitle(QString::fromUtf8(form.caption));
    resize(Pixels(form.clientWidth), Pixels(form.clientHeight));
    std::map<std::string, QWidget*> byName;
    for (std::size_t i = 0; i < form.controlCount; ++i) {
        const ControlDesign& c = form.controls[i];
        const auto container = c.container ? byName.find(c.container) : byName.end();
        if (c.container && container == byName.end()) throw Failure("unknown container");
        byName[c.name] = CreateControl(c, c.container ? container->second : this);
    }
    SetTabOrder(form, byName);
}

QWidget* QtFmWindow::CreateControl(const ControlDesign& c, QWidget* container) {
    QWidget* widget = nullptr;
    switch (c.kind) {
        case ControlKind::GroupFrame:
            widget = CreateFrame(c, container);
            break;
        case ControlKind::ComboBox:
            widget = CreateCombo(c, container);
            break;
        case ControlKind::Button:
            widget = CreateButton(c, container);
            break;
        case ControlKind::TextBox:
            widget = CreateReport(container);
            break;
    }
    widget->setObjectName(QString::fromUtf8(c.name));
    widget->setGeometry(Pixels(c.left), Pixels(c.top), Pixels(c.width), Pixels(c.height));
    if (c.font) widget->setFont(FontOf(*c.font, widget->font()));
    return widget;
}

QWidget* QtFmWindow::CreateFrame(const ControlDesign& c, QWidget* container) {
    auto* frame = new QGroupBox(QString::fromUtf8(c.caption), container);
    frame->setFocusPolicy(Qt::NoFocus);
    return frame;
}

QWidget* QtFmWindow::CreateCombo(const ControlDesign& c, QWidget* container) {
    auto* combo = new QComboBox(container);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMaxVisibleItems(c.listRows);
    combo->setCompleter(nullptr);  // what was typed is checked as typed
    combo_ = std::make_unique<Combo>(combo);
    return combo;
}

QWidget* QtFmWindow::CreateButton(const ControlDesign& c, QWidget* container) {
    auto* button = new QPushButton(QString::fromUtf8(c.caption), container);
    button->setAutoDefault(false);
    button->setDefault(false);
    connect(button, &QPushButton::clicked, this, [this] { Check(); });
    return button;
}

QWidget* QtFmWindow::CreateReport(QWidget* container) {
    auto* report = new QPlainTextEdit(container);
    report->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    report->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    report->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    report->setTabChangesFocus(true);
    QPalette palette = report->palette();
    palette.setColor(QPalette::Text, Qt::black);
    palette.setColor(QPalette::Base, Qt::white);
    report->setPalette(palette);
    report_ = std::make_unique<Report>(report);
    return report;
}

// The focus moves through the controls that take it in the layout's tab
// order, and starts in the first.
void QtFmWindow::SetTabOrder(const FormDesign& form, const std::map<std::string, QWidget*>& byName) {
    QWidget* previous = nullptr;
    for (const ControlDesign* c : TabOrder(form)) {
        QWidget* widget = byName.at(c->name);
        if (widget->focusPolicy() == Qt::NoFocus) continue;
        if (previous)
            setTabOrder(previous, widget);
        else
            widget->setFocus(Qt::OtherFocusReason);
        previous = widget;
    }
}

QtFmWindow::~QtFmWindow() = default;

// The check runs on this thread to its end, serving the window while it
// waits. What the user does to the window meanwhile is dropped, not done
// after it: a second click checks nothing twice. A close asked meanwhile
// unwinds the check, then closes the window.
void QtFmWindow::Check() {
    policy_.Check(events_, {[this] {
                                QApplication::setOverrideCursor(Qt::WaitCursor);
                                qApp->installEventFilter(this);
                            },
                            [this] {
                                // The input that queued while the thread was busy is
                                // delivered, into the filter, before the window takes
                                // input again.
                                QCoreApplication::processEvents(QEventLoop::AllEvents, kDropInputMs);
                                qApp->removeEventFilter(this);
                                QApplication::restoreOverrideCursor();
                            },
                            [this] { close(); }});
}

// Every event but the user's input to this window, which the filter drops.
// Qt's ExcludeUserInputEvents would also hold back the window manager's
// close request until the check ends.
void QtFmWindow::Serve() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    policy_.AfterServing();
}

// During a check: the user's input to this window goes nowhere. Other
// windows, a message box of the check among them, take theirs.
bool QtFmWindow::eventFilter(QObject* receiver, QEvent* event) {
    if (!policy_.Checking() || !IsUserInput(event->type())) return false;
    if (receiver == static_cast<QObject*>(windowHandle())) return true;
    const auto* widget = qobject_cast<QWidget*>(receiver);
    return widget && widget->window() == this;
}

void QtFmWindow::Load() {
    Deliver(events_, [](FormEvents& events) { events.Form_Load(); });
}

void QtFmWindow::CenterOnScreen() {
    const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!s) return;
    QRect frame = frameGeometry();
    frame.moveCenter(s->availableGeometry().center());
    move(frame.topLeft());
}

ComboBox& QtFmWindow::Cmb1() {
    if (!combo_) throw Failure("no combo box");
    return *combo_;
}

TextBox& QtFmWindow::Txt_IP() {
    if (!report_) throw Failure("no report box");
    return *report_;
}

void QtFmWindow::CheckSizable() const {
    if (windowState() & (Qt::WindowMinimized | Qt::WindowMaximized))
        throw Failure("a minimized or maximized window keeps its size");
}

// The outer size includes the border and the caption bar; whatever their
// thickness, the client area takes the difference.
void QtFmWindow::SetOuterHeight(int twips) {
    CheckSizable();
    const int decoration = frameGeometry().height() - geometry().height();
    resize(width(), std::max(1, Pixels(twips) - decoration));
}

void QtFmWindow::SetOuterWidth(int twips) {
    CheckSizable();
    const int decoration = frameGeometry().width() - geometry().width();
    resize(std::max(1, Pixels(twips) - decoration), height());
}

void QtFmWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    resize_(events_);
}

void QtFmWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    // Restoring a minimized or maximized window brings it back to its size.
    if (event->type() == QEvent::WindowStateChange) resize_(events_);
}

// The unload event, once: a window closed again is closed already. Asked
// during a check, the close waits until the check is unwound: the unload
// ends the sockets that the check is using.
void QtFmWindow::closeEvent(QCloseEvent* event) {
    if (policy_.MayClose() && policy_.Unload(events_))
        event->accept();
    else
        event->ignore();
}

}  // namespace tarnwell::platform
