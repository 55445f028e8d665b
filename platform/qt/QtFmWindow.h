#pragma once
#include "platform/Toolkit.h"

#include <QWidget>

#include <memory>

namespace tarnwell::platform {

// The main window built with Qt Widgets from a twips layout (15 twips to a
// device-independent pixel). Control object names are the layout's names.
class QtFmWindow : public QWidget, public FmView {
    Q_OBJECT
public:
    explicit QtFmWindow(const FormSpec& form, QWidget* parent = nullptr);
    ~QtFmWindow() override;

    // Connects the window's events to the logic. Events before this go
    // nowhere.
    void SetEvents(FormEvents* events) { events_ = events; }
    // Runs the load event; called once before the window is first shown.
    void Load();
    // Places the window centred on its screen.
    void CenterOnScreen();

    void SetOuterHeight(int twips) override;
    void SetOuterWidth(int twips) override;
    ComboBox& Cmb1() override;
    TextBox& Txt_IP() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* receiver, QEvent* event) override;

private:
    class Combo;
    class Report;

    void Check();
    void CheckSizable() const;
    void KeepSize();

    FormEvents* events_ = nullptr;
    std::unique_ptr<Combo> combo_;    // null while the layout has no combo box
    std::unique_ptr<Report> report_;  // null while the layout has no text box
    bool inResize_ = false;
    bool checking_ = false;
};

}  // namespace tarnwell::platform
