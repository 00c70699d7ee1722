// Win32 only: the desktop shell reached through COM.
#include "sys/libutils/win32/usershell.h"

#include "sys/libutils/text.h"
#include "sys/libutils/win32/handle.h"
#include "sys/libutils/win32/process.h"

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shobjidl.h>

namespace ts { namespace sys { namespace win32 {

namespace {

// Owner of one COM interface reference.
template <typename Interface>
class ComRef {
public:
    ComRef() = default;
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    ~ComRef()
    {
        if (m_pointer)
            m_pointer->Release();
    }
    Interface* operator->() const { return m_pointer; }
    Interface* get() const { return m_pointer; }
    Interface** receive() { return &m_pointer; }
    void** receiveVoid() { return reinterpret_cast<void**>(&m_pointer); }

private:
    Interface* m_pointer = nullptr;
};

// Owner of a BSTR.
class Bstr {
public:
    explicit Bstr(const std::wstring& text) : m_text(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {}
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    ~Bstr() { SysFreeString(m_text); }
    BSTR get() const { return m_text; }

private:
    BSTR m_text;
};

// COM on this thread for the life of the object, when it was not on already.
class ComApartment {
public:
    ComApartment() : m_result(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment()
    {
        if (SUCCEEDED(m_result))
            CoUninitialize();
    }
    // RPC_E_CHANGED_MODE: the thread has COM in the other model, which serves as well.
    bool usable() const { return SUCCEEDED(m_result) || m_result == RPC_E_CHANGED_MODE; }
    HRESULT result() const { return m_result; }

private:
    HRESULT m_result;
};

// The shell's automation object of the desktop's own view, from the shell's process.
HRESULT desktopShellDispatch(ComRef<IShellDispatch2>& shell)
{
    ComRef<IShellWindows> windows;
    HRESULT hr = CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                  windows.receiveVoid());
    if (FAILED(hr))
        return hr;
    VARIANT desktop, empty;
    VariantInit(&desktop);
    VariantInit(&empty);
    V_VT(&desktop) = VT_I4;
    V_I4(&desktop) = 0; // CSIDL_DESKTOP
    LONG window = 0;
    ComRef<IDispatch> found;
    hr = windows->FindWindowSW(&desktop, &empty, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, found.receive());
    if (hr == S_FALSE || (SUCCEEDED(hr) && !found.get()))
        return E_FAIL; // no desktop shell runs
    if (FAILED(hr))
        return hr;
    ComRef<IServiceProvider> services;
    if (FAILED(hr = found->QueryInterface(IID_IServiceProvider, services.receiveVoid())))
        return hr;
    ComRef<IShellBrowser> browser;
    if (FAILED(hr = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.receiveVoid())))
        return hr;
    ComRef<IShellView> view;
    if (FAILED(hr = browser->QueryActiveShellView(view.receive())))
        return hr;
    ComRef<IDispatch> background;
    if (FAILED(hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.receiveVoid())))
        return hr;
    ComRef<IShellFolderViewDual> folderView;
    if (FAILED(hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.receiveVoid())))
        return hr;
    ComRef<IDispatch> application;
    if (FAILED(hr = folderView->get_Application(application.receive())))
        return hr;
    return application->QueryInterface(IID_IShellDispatch2, shell.receiveVoid());
}

HRESULT shellDispatchExecute(const std::wstring& file)
{
    ComApartment apartment;
    if (!apartment.usable())
        return apartment.result();
    ComRef<IShellDispatch2> shell;
    HRESULT result = desktopShellDispatch(shell);
    if (FAILED(result))
        return result;
    Bstr name(file);
    VARIANT none, show;
    VariantInit(&none);
    VariantInit(&show);
    V_VT(&show) = VT_I4;
    V_I4(&show) = SW_SHOWNORMAL;
    return shell->ShellExecute(name.get(), none, none, none, show);
}

// The URL handler started as the shell process runs: with its token, unelevated.
bool startWithShellToken(const std::wstring& file)
{
    DWORD shellProcess = 0;
    HWND shellWindow = GetShellWindow();
    if (!shellWindow || !GetWindowThreadProcessId(shellWindow, &shellProcess) || !shellProcess)
        return false;
    Handle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, shellProcess));
    Handle token, primary;
    if (!process || !OpenProcessToken(process.get(), TOKEN_DUPLICATE, token.receive()) ||
        !DuplicateTokenEx(token.get(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                           TOKEN_ADJUST_SESSIONID,
                          nullptr, SecurityImpersonation, TokenPrimary, primary.receive()))
        return false;
    const std::wstring program = systemProgramPath(L"rundll32.exe");
    std::wstring commandLine = quotedArgument(program) + L" url.dll,FileProtocolHandler " + file;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info = {};
    if (!CreateProcessWithTokenW(primary.get(), 0, program.c_str(), &commandLine[0], 0, nullptr, nullptr, &startup,
                                 &info))
        return false;
    Handle started(info.hProcess), thread(info.hThread);
    return true;
}

} // namespace

bool shellExecuteAsUser(const std::wstring& file, HRESULT& result)
{
    result = shellDispatchExecute(file);
    if (SUCCEEDED(result))
        return result == S_OK; // S_FALSE: the shell was reached and could not open it
    return startWithShellToken(file);
}

}}} // namespace ts::sys::win32
