// tsprogress <out.bmp> [message]: shows Setup's progress window, or with a message number
// (33, 35, 36, 37) the message box Setup shows with it, in the user's language (this
// program carries Setup's resources and loads them the way Setup does), waits until it is
// painted, and saves the screen area of the whole window as a 24-bit BMP file. Run it in
// a Wine virtual desktop, where Wine draws the frame and the caption itself.
// tools/snap-progress.sh turns the files into PNGs.
#include "app/setup/inprogressthread.h"
#include "app/setup/mainflow.h"
#include "app/setup/resource.h"
#include "app/setup/restart.h"
#include "tk/libgui/resourcefunctions.h"

#include <windows.h>
#include <cwchar>
#include <vector>

using ts::app::setupInstall::InProgressThread;
namespace resource = ts::tk::gui::resource;

namespace {

bool saveWindow(HWND window, const wchar_t* path)
{
    RECT frame;
    GetWindowRect(window, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, frame.left, frame.top, SRCCOPY);
    SelectObject(memory, previous);

    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    const DWORD stride = (width * 3 + 3) & ~3u;
    std::vector<BYTE> pixels(stride * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    HANDLE out = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &header, sizeof header, &written, nullptr);
    WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(out);
    return true;
}

int snapProgress(const wchar_t* path)
{
    InProgressThread progress;
    progress.start();
    HWND dialog = nullptr;
    for (int i = 0; i < 1000 && !(dialog = InProgressThread::window()); ++i)
        Sleep(10);
    if (!dialog)
        return 1;
    Sleep(1500); // the marquee and the text are painted
    bool saved = saveWindow(dialog, path);
    progress.stop();
    return saved ? 0 : 1;
}

// A message box as Setup's main flow shows it.
struct Box {
    std::wstring text;
    std::wstring caption;
    UINT icon;
};

Box setupBox(uint32_t id)
{
    const LANGID language = GetUserDefaultUILanguage();
    const std::wstring product = resource::loadString(IDS_PRODUCT_NAME);
    if (id == IDS_UP_TO_DATE) {
        const std::wstring shortName = ts::app::setupInstall::shortProductName(product);
        return {resource::formatMessage(resource::loadString(id, L"%1 software is already up to date", language), shortName),
                resource::formatMessage(resource::loadString(IDS_CAPTION, L"Install %1 software", language), shortName),
                MB_ICONINFORMATION};
    }
    if (id == IDS_RESTART_QUESTION) {
        const ts::app::setupInstall::RestartQuestion question = ts::app::setupInstall::restartQuestion(product, language);
        return {question.text, question.caption, ts::app::setupInstall::kRestartQuestionStyle};
    }
    return {resource::formatMessage(resource::loadString(id, L"", language), product),
            resource::formatMessage(resource::loadString(IDS_CAPTION, L"Install Tessaline Software for %1", language),
                                    product),
            MB_ICONERROR};
}

DWORD WINAPI showBox(void* box)
{
    const Box& b = *static_cast<const Box*>(box);
    MessageBoxW(nullptr, b.text.c_str(), b.caption.c_str(), b.icon);
    return 0;
}

BOOL CALLBACK firstVisible(HWND window, LPARAM found)
{
    if (!IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

int snapMessage(uint32_t id, const wchar_t* path)
{
    Box box = setupBox(id);
    DWORD threadId = 0;
    HANDLE thread = CreateThread(nullptr, 0, showBox, &box, 0, &threadId);
    if (!thread)
        return 1;
    HWND window = nullptr;
    for (int i = 0; i < 1000 && !window; ++i) {
        Sleep(10);
        EnumThreadWindows(threadId, firstVisible, reinterpret_cast<LPARAM>(&window));
    }
    if (!window)
        return 1;
    Sleep(1500); // painted
    bool saved = saveWindow(window, path);
    // A question closes through its No button, not WM_CLOSE.
    PostMessageW(window, WM_COMMAND, GetDlgItem(window, IDNO) ? IDNO : IDCANCEL, 0);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    return saved ? 0 : 1;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    if (argc > 2)
        return snapMessage(static_cast<uint32_t>(wcstoul(argv[2], nullptr, 10)), argv[1]);
    return snapProgress(argv[1]);
}
