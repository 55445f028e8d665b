#pragma once
#include "platform/Deliver.h"
#include "platform/FormDesign.h"
#include "platform/Widgets.h"
#include "platform/WindowPolicy.h"

#include <QWidget>

#include <map>
#include <memory>
#include <string>

namespace tarnwell::platform {

// The main window built with Qt Widgets from a twips layout (15 twips to a
// device-independent pixel). Control object names are the layout's names.
class QtFmWindow : public QWidget, public FmView {
    Q_OBJECT
public:
    explicit QtFmWindow(const FormDesign& form, QWidget* parent = nullptr);
    ~QtFmWindow() override;

    // Connects the window's events to the logic. Events before this go
    // nowhere.
    void SetEvents(FormEvents* events) { events_ = events; }
    // Runs the load event; called once before the window is first shown.
    void Load();
    // Places the window centred on its screen.
    void CenterOnScreen();
    // Serves the toolkit once while a check waits (see platform/Serve.h).
    void Serve();

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

    QWidget* CreateControl(const ControlDesign& c, QWidget* container);
    static QWidget* CreateFrame(const ControlDesign& c, QWidget* container);
    QWidget* CreateCombo(const ControlDesign& c, QWidget* container);
    QWidget* CreateButton(const ControlDesign& c, QWidget* container);
    QWidget* CreateReport(QWidget* container);
    void SetTabOrder(const FormDesign& form, const std::map<std::string, QWidget*>& byName);
    void Check();
    void CheckSizable() const;

    FormEvents* events_ = nullptr;
    std::unique_ptr<Combo> combo_;    // null while the layout has no combo box
    std::unique_ptr<Report> report_;  // null while the layout has no text box
    ResizeDelivery resize_;
    WindowPolicy policy_;
};

}  // namespace tarnwell::platform
