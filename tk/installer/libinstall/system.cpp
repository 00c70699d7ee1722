#include "tk/installer/libinstall/system.h"

#include "sys/libutils/win32/win32nr.h"

namespace ts { namespace tk { namespace install {

TemporaryCopy::TemporaryCopy(const std::filesystem::path& sourcePath, const std::wstring& extension)
    : sys::Identity("TemporaryCopy", ""),
      sys::Logger::Logged(sys::Logger::instance(), "TemporaryCopy", ""),
      m_sourcePath(sourcePath),
      m_effectivePath(sourcePath)
{
    if (m_sourcePath.extension().wstring() == extension)
        return;
    std::filesystem::path target = m_sourcePath.parent_path() / (m_sourcePath.stem().wstring() + extension);
    // A target that exists already is an error and stays as it is. Not fs::copy_file:
    // libstdc++ reports "File exists" for new targets under mingw.
    if (DWORD error = sys::win32::copyFile(m_sourcePath.wstring(), target.wstring(), false)) {
        TS_LOG(*this, sys::LogLevel::Error) << "Creating temporary copy failed " << error;
        return;
    }
    m_effectivePath = target;
}

TemporaryCopy::~TemporaryCopy()
{
    if (m_effectivePath == m_sourcePath)
        return;
    std::error_code error;
    std::filesystem::remove(m_effectivePath, error);
    if (error) {
        TS_LOG(*this, sys::LogLevel::Error) << "Removing temporary copy failed " << error.value();
    }
}

}}} // namespace ts::tk::install
