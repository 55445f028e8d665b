#include "platform/win32/WinShell.h"

#include "common/Failure.h"
#include "platform/win32/WinText.h"

#include <windows.h>
#include <oleauto.h>

namespace tarnwell::platform {

namespace {

// A late-bound automation object; RegRead is called by name through
// IDispatch, as a script would call it.
class DispatchShell : public Shell {
public:
    explicit DispatchShell(IDispatch* object) : object_(object) {}
    ~DispatchShell() override { object_->Release(); }
    DispatchShell(const DispatchShell&) = delete;
    DispatchShell& operator=(const DispatchShell&) = delete;

    std::string RegRead(const std::string& valuePath) override {
        OLECHAR name[] = L"RegRead";
        LPOLESTR names[] = {name};
        DISPID id = 0;
        if (FAILED(object_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
            throw Failure("no RegRead method");

        const std::wstring path = Widen(valuePath);
        VARIANT argument;
        VariantInit(&argument);
        argument.vt = VT_BSTR;
        argument.bstrVal = SysAllocStringLen(path.data(), static_cast<UINT>(path.size()));
        DISPPARAMS params{&argument, nullptr, 1, 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO exception{};
        const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                           &result, &exception, nullptr);
        VariantClear(&argument);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (FAILED(hr)) {
            VariantClear(&result);
            throw Failure("RegRead failed");
        }
        // The data as a text; data that cannot be one is a failure.
        const HRESULT converted = VariantChangeType(&result, &result, 0, VT_BSTR);
        if (FAILED(converted) || result.vt != VT_BSTR) {
            VariantClear(&result);
            throw Failure("value is no text");
        }
        std::string text = Narrow(std::wstring_view(result.bstrVal, SysStringLen(result.bstrVal)));
        VariantClear(&result);
        return text;
    }

private:
    IDispatch* object_;
};

}  // namespace

std::unique_ptr<Shell> WinShellFactory::CreateObject(const std::string& progId) {
    // COM is started on every thread that creates an object (the window's,
    // and the console checker's threads of its own), for that thread's life,
    // and ended once on it.
    struct ComOnThread {
        bool started = SUCCEEDED(CoInitialize(nullptr));
        ~ComOnThread() {
            if (started) CoUninitialize();
        }
    };
    thread_local const ComOnThread com;
    const std::wstring id = Widen(progId);
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(id.c_str(), &clsid))) throw Failure("unknown programmatic identifier");
    IDispatch* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&object))) ||
        !object)
        throw Failure("object cannot be created");
    return std::make_unique<DispatchShell>(object);
}

}  // namespace tarnwell::platform
