#include "tk/installer/libinstall/system.h"

namespace ts { namespace tk { namespace install {

bool getInstalledCoreVersion(sys::Version&)
{
    return false; // the installer API library is not bound yet: not installed
}

namespace {
const int kError = 2;
}

TemporaryCopy::TemporaryCopy(const std::filesystem::path& sourcePath, const std::wstring& extension)
    : sys::Identity("TemporaryCopy", ""),
      sys::Logger::Logged(sys::Logger::instance(), "TemporaryCopy", ""),
      m_sourcePath(sourcePath),
      m_effectivePath(sourcePath)
{
    if (m_sourcePath.extension().wstring() == extension)
        return;
    std::filesystem::path target = m_sourcePath.parent_path() / (m_sourcePath.stem().wstring() + extension);
    std::error_code error;
    // copy_file, not copy: a target that exists already is an error and stays as it is.
    if (!std::filesystem::copy_file(m_sourcePath, target, error) || error) {
        TS_LOG(*this, kError) << "Creating temporary copy failed " << error.value();
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
        TS_LOG(*this, kError) << "Removing temporary copy failed " << error.value();
    }
}

}}} // namespace ts::tk::install
