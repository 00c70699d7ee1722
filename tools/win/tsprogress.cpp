// tsprogress <out.bmp>: shows Setup's progress window (this program carries Setup's
// resources), waits until it is painted, and saves the screen area of its client part as a
// 24-bit BMP file (without a window manager, as under Xvfb, nobody draws the caption).
// tools/snap-progress.sh turns it into a PNG.
#include "app/setup/inprogressthread.h"

#include <windows.h>
#include <vector>

using ts::app::setupInstall::InProgressThread;

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    InProgressThread progress;
    progress.start();
    HWND dialog = nullptr;
    for (int i = 0; i < 1000 && !(dialog = InProgressThread::window()); ++i)
        Sleep(10);
    if (!dialog)
        return 1;
    Sleep(1500); // the marquee and the text are painted
    RECT client;
    GetClientRect(dialog, &client);
    POINT origin = {0, 0};
    ClientToScreen(dialog, &origin);
    const int width = client.right, height = client.bottom;

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, origin.x, origin.y, SRCCOPY);
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
    progress.stop();

    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    HANDLE out = CreateFileW(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return 1;
    DWORD written = 0;
    WriteFile(out, &file, sizeof file, &written, nullptr);
    WriteFile(out, &header, sizeof header, &written, nullptr);
    WriteFile(out, pixels.data(), static_cast<DWORD>(pixels.size()), &written, nullptr);
    CloseHandle(out);
    return 0;
}
