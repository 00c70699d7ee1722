#include "sys/libutils/logoutputs.h"

#include "sys/libutils/win32/findhandle.h"
#include "sys/libutils/win32/commandline.h"
#include "sys/libutils/win32/safefile.h"

#include <windows.h>
#include <algorithm>
#include <ctime>

namespace ts { namespace sys {

OutputImpl::OutputImpl(std::unique_ptr<Logger::OutputWriter> writer, int lineType)
    : m_writer(std::move(writer)), m_lineType(lineType)
{
}

void OutputImpl::write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
                       const std::string& label, const std::string& threadName, const std::string& text)
{
    std::string plain =
        formatLogLine(m_lineType, elapsedMs, level, file ? file : "", line, module, label, threadName, text);
    m_writer->write(m_encoder.encode(plain), level);
}

void StreamOutputWriter::write(const std::string& text, int)
{
    m_stream << text << '\n';
    m_stream.flush();
}

void MultiOutput::write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
                        const std::string& label, const std::string& threadName, const std::string& text)
{
    for (Logger::Output* output : m_outputs)
        output->write(elapsedMs, level, file, line, module, label, threadName, text);
}

// ---- file names ----------------------------------------------------------------------

void splitExtension(const std::string& path, std::string& stem, std::string& ext)
{
    size_t dot = path.rfind('.');
    size_t separator = path.find_last_of("\\/");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator)) {
        stem = path;
        ext.clear();
        return;
    }
    stem = path.substr(0, dot);
    ext = path.substr(dot);
}

std::string oldFileName(const std::string& path)
{
    std::string stem, ext;
    splitExtension(path, stem, ext);
    return stem + ".old" + ext;
}

std::vector<std::string> decoratedFilesToPrune(std::vector<std::string> names, uint32_t maxFileCount)
{
    uint32_t keep = maxFileCount & 0xFF;
    if (keep == 0 || names.size() <= keep)
        return {};
    std::sort(names.begin(), names.end(), std::greater<std::string>());
    return std::vector<std::string>(names.begin() + keep, names.end());
}

std::string alternativeFileName(const std::string& name, int n)
{
    if (n == 0)
        return name;
    std::string stem, ext;
    splitExtension(name, stem, ext);
    return stem + "_" + std::to_string(n) + ext;
}

namespace {

const DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::string directoryOf(const std::string& path)
{
    size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

void pruneDecorated(const std::string& path, uint32_t maxFileCount)
{
    if ((maxFileCount & 0xFF) == 0)
        return;
    std::string stem, ext;
    splitExtension(path, stem, ext);
    std::string folder = directoryOf(path);
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    win32::FindHandle find(FindFirstFileA((stem + "*-*" + ext).c_str(), &data));
    if (!find)
        return;
    do {
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(data.cFileName);
    } while (FindNextFileA(find.get(), &data));
    for (const std::string& name : decoratedFilesToPrune(names, maxFileCount))
        win32::deletePlainFile(win32::fromAnsi(folder + name));
}

std::string localStamp()
{
    time_t now = time(nullptr);
    char buffer[32] = "";
    if (const tm* local = localtime(&now))
        strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", local);
    return buffer;
}

} // namespace

// ---- FileOutput ------------------------------------------------------------------------

void HandleOutputWriter::write(const std::string& text, int)
{
    std::string line = text + '\n';
    DWORD written = 0;
    if (WriteFile(m_file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr))
        m_size += written;
}

FileOutput::FileOutput(const std::string& path, Mode mode, uint32_t maxSize, int lineType, uint32_t maxFileCount)
    : m_checker(std::make_unique<NullFileRemovedOrRenamedChecker>()), m_path(path), m_mode(mode),
      m_maxSize(maxSize), m_lineType(lineType), m_maxFileCount(maxFileCount)
{
    open(mode);
}

FileOutput::~FileOutput() = default;

void FileOutput::open(Mode mode)
{
    std::string first = m_path;
    const std::wstring path = win32::fromAnsi(m_path);
    if (mode == New) {
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            const std::wstring old = win32::fromAnsi(oldFileName(m_path));
            win32::deletePlainFile(old);
            win32::renamePlainFile(path, old);
        }
    } else if (mode == Decorate) {
        pruneDecorated(m_path, m_maxFileCount);
        std::string stem, ext;
        splitExtension(m_path, stem, ext);
        first = stem + localStamp() + ext;
    }
    // A restart within the same second finds its decorated name taken and moves on.
    std::wstring chosen;
    std::string tried;
    m_file = win32::openFirstFree(
        [&](int n) {
            tried = alternativeFileName(first, n);
            return win32::fromAnsi(tried);
        },
        [&](const std::wstring& name) {
            return mode == Append ? win32::openFileToAppend(name, kShareReadWrite)
                                  : win32::createNewFile(name, GENERIC_WRITE, kShareReadWrite);
        },
        chosen);
    m_currentFile.clear();
    m_size = 0;
    if (m_file) {
        m_currentFile = tried;
        LARGE_INTEGER size;
        if (GetFileSizeEx(m_file.get(), &size))
            m_size = static_cast<uint64_t>(size.QuadPart);
    }
    m_impl = std::make_unique<OutputImpl>(std::make_unique<HandleOutputWriter>(m_file.get(), m_size), m_lineType);
}

void FileOutput::write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
                       const std::string& label, const std::string& threadName, const std::string& text)
{
    bool full = m_maxSize != 0 && m_file && m_size > m_maxSize;
    if (full || m_checker->isRemovedOrRenamed()) {
        m_impl.reset();
        m_file.reset();
        open(m_mode == Append ? New : m_mode);
        if (m_file)
            m_impl->write(elapsedMs, LogLevel::Always, "logoutputs.cpp", __LINE__, module, label, threadName,
                          versionBanner() + "Log file restarted at " + ctimeNow());
    }
    if (m_file)
        m_impl->write(elapsedMs, level, file, line, module, label, threadName, text);
}

// ---- streams ---------------------------------------------------------------------------

int DebugOutBuf::sync()
{
    std::string text = str();
    if (!text.empty())
        OutputDebugStringA(text.c_str());
    str(std::string());
    return 0;
}

int HelperOutBuf::sync()
{
    std::string text = str();
    if (m_callback)
        m_callback(text);
    str(std::string());
    return 0;
}

}} // namespace ts::sys
