#include "sys/libutils/logoutputs.h"

#include "sys/libutils/win32/findhandle.h"

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

namespace {

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
        DeleteFileA((folder + name).c_str());
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

FileOutput::FileOutput(const std::string& path, Mode mode, uint32_t maxSize, int lineType, uint32_t maxFileCount)
    : m_checker(std::make_unique<NullFileRemovedOrRenamedChecker>()), m_path(path), m_mode(mode),
      m_maxSize(maxSize), m_lineType(lineType), m_maxFileCount(maxFileCount)
{
    open(mode);
}

FileOutput::~FileOutput() = default;

void FileOutput::open(Mode mode)
{
    std::string stem, ext;
    splitExtension(m_path, stem, ext);
    m_currentFile = m_path;
    if (mode == New) {
        if (GetFileAttributesA(m_path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            std::string old = stem + ".old" + ext;
            DeleteFileA(old.c_str());
            MoveFileA(m_path.c_str(), old.c_str());
        }
    } else if (mode == Decorate) {
        pruneDecorated(m_path, m_maxFileCount);
        // A restart within the same second must not reopen the full file it leaves.
        std::string stamp = localStamp();
        m_currentFile = stem + stamp + ext;
        for (int n = 1; n < 1000 && GetFileAttributesA(m_currentFile.c_str()) != INVALID_FILE_ATTRIBUTES; ++n)
            m_currentFile = stem + stamp + "_" + std::to_string(n) + ext;
    }
    m_stream.clear();
    m_stream.open(m_currentFile, std::ios::out | std::ios::app | std::ios::binary);
    m_stream.seekp(0, std::ios::end);
    m_impl = std::make_unique<OutputImpl>(std::make_unique<StreamOutputWriter>(m_stream), m_lineType);
}

void FileOutput::write(uint64_t elapsedMs, int level, const char* file, int line, const std::string& module,
                       const std::string& label, const std::string& threadName, const std::string& text)
{
    bool full = m_maxSize != 0 && m_stream.is_open() && static_cast<int64_t>(m_stream.tellp()) > m_maxSize;
    if (full || m_checker->isRemovedOrRenamed()) {
        m_stream.close();
        open(m_mode == Append ? New : m_mode);
        m_impl->write(elapsedMs, LogLevel::Always, "logoutputs.cpp", __LINE__, module, label, threadName,
                      versionBanner() + "Log file restarted at " + ctimeNow());
    }
    if (m_stream.is_open())
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
