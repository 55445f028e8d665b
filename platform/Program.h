#pragma once
#include "platform/MsgBox.h"
#include "platform/FormDesign.h"
#include "platform/Serve.h"
#include "platform/Widgets.h"

#include <functional>
#include <memory>

namespace tarnwell::platform {

// Makes the logic of the window once its toolkit window and message box
// exist; `serve` serves that window while a check waits.
using MakeFormEvents = std::function<std::unique_ptr<FormEvents>(FmView& view, MsgBox& box, const Serve& serve)>;

// The window program on this platform's toolkit: builds the window from
// `form`, lets `make` wire the logic to it, runs the load event, shows the
// window centred and runs until it is closed. Returns the exit status. When
// `make` gives nothing (the program cannot start, and has told the user
// why), no window is shown and the status is the usage error's.
int RunWindowProgram(int argc, char* argv[], const FormDesign& form, const MakeFormEvents& make);

}  // namespace tarnwell::platform
