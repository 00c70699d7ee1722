#include "app/setup/inprogressthread.h"

#include "app/setup/resource.h"
#include "sys/libutils/win32/library.h"
#include "tk/libgui/resourcefunctions.h"

#include <commctrl.h>

namespace ts { namespace app { namespace setupInstall {

namespace {

// Written by the progress thread and the dialog procedure, read by the stopping thread.
std::atomic<HWND> g_dialog{nullptr};

void destroyDialog()
{
    HWND dialog = g_dialog.exchange(nullptr);
    if (dialog)
        DestroyWindow(dialog);
}

INT_PTR CALLBACK dialogProcedure(HWND, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            return TRUE;
        case IDCANCEL:
            destroyDialog();
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

// The marquee bar's class must be registered before the dialog is made. comctl32 is
// loaded here, after the DLL search was restricted: imported at load time, its own
// imports (uxtheme) would be searched for beside Setup.exe first.
void registerProgressBarClass()
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_PROGRESS_CLASS};
    if (auto init = sys::win32::systemFunction<decltype(&InitCommonControlsEx)>("comctl32.dll", "InitCommonControlsEx"))
        init(&controls);
}

} // namespace

POINT centredOrigin(const RECT& desktop, int width, int height)
{
    POINT origin;
    origin.x = desktop.left + (desktop.right - desktop.left - width) / 2;
    origin.y = desktop.top + (desktop.bottom - desktop.top - height) / 2;
    return origin;
}

InProgressThread::InProgressThread() : Identity("InProgressThread", ""), Thread("InProgressThread") {}

InProgressThread::~InProgressThread()
{
    stop();
}

HWND InProgressThread::window()
{
    return g_dialog.load();
}

void InProgressThread::stop()
{
    m_stop = true;
    if (state() == Started) {
        HWND dialog = g_dialog.load();
        if (dialog && IsWindow(dialog))
            PostMessageW(dialog, WM_CLOSE, 0, 0);
        // When the user closed the dialog first nothing else would wake the loop.
        PostThreadMessageW(threadId(), WM_NULL, 0, 0);
    }
    join(-1);
}

uint32_t InProgressThread::run()
{
    registerProgressBarClass();
    HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_PROGRESS), GetDesktopWindow(),
                                     dialogProcedure, 0);
    g_dialog = dialog;
    if (!IsWindow(dialog))
        return 0;
    ShowWindow(dialog, SW_SHOW);

    RECT desktop = {}, own = {};
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &own);
    POINT origin = centredOrigin(desktop, own.right - own.left, own.bottom - own.top);
    SetWindowPos(dialog, nullptr, origin.x, origin.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);

    using namespace tk::gui::resource;
    const std::wstring productName = loadString(IDS_PRODUCT_NAME);
    SetWindowTextW(dialog, productName.c_str());
    const std::wstring text = formatMessage(
        loadString(IDS_INSTALLING, L"Installing Tessaline Software for %1", GetUserDefaultUILanguage()), productName);
    SendDlgItemMessageW(dialog, IDC_PROGRESS_TEXT, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendDlgItemMessageW(dialog, IDC_PROGRESS_BAR, PBM_SETMARQUEE, TRUE, 20);

    while (!m_stop) {
        MSG message;
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            m_stop = true;
            break;
        }
        HWND current = g_dialog.load();
        if (current && IsDialogMessageW(current, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    destroyDialog();
    return 0;
}

}}} // namespace ts::app::setupInstall
