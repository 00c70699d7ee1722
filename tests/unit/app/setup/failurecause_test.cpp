#include "app/setup/applicationinstaller.h"
#include "app/setup/mainflow.h"
#include "app/setup/payload.h"

#include "unit/app/setup/resourcemodule.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>

namespace ts { namespace app { namespace setupInstall {
namespace {

using test::archivePath;

TEST(PayloadFailure, OneLineNamesStepFileResultAndSystemError)
{
    PayloadFailure folder{PayloadStep::CreateFolder, L"C:\\Temp\\", ExtractSuccess, 3};
    EXPECT_EQ(L"Unpacking the payload failed while creating the temporary folder in C:\\Temp\\: archive result 0, "
              L"system error 3: The system cannot find the path specified.",
              describePayloadFailure(folder, L"The system cannot find the path specified."));
    PayloadFailure written{PayloadStep::WriteArchive, L"C:\\T\\TS2.tmp\\additional.7z", ExtractSuccess, 112};
    EXPECT_EQ(L"Unpacking the payload failed while writing C:\\T\\TS2.tmp\\additional.7z: archive result 0, system "
              L"error 112: There is not enough space on the disk.",
              describePayloadFailure(written, L"There is not enough space on the disk."));
    PayloadFailure damaged{PayloadStep::Unpack, L"C:\\T\\TS2.tmp\\additional.7z", ExtractCrcError, 0};
    EXPECT_EQ(L"Unpacking the payload failed while unpacking C:\\T\\TS2.tmp\\additional.7z: archive result 5, system "
              L"error 0",
              describePayloadFailure(damaged, L""));
    PayloadFailure resource{PayloadStep::ReadResource, L"", ExtractSuccess, 1814};
    EXPECT_EQ(L"Unpacking the payload failed while reading the payload resource: archive result 0, system error 1814",
              describePayloadFailure(resource, L""));
}

class FailureCauseTest : public ::testing::Test {
protected:
    test::TempFolder m_temp{L"cause"};
    const std::wstring& m_folder = m_temp.path;
};

TEST_F(FailureCauseTest, ExtractionNamesTheFileAndTheWindowsError)
{
    ExtractDetail failure;
    EXPECT_EQ(ExtractCannotOpen, extractArchive(archivePath(L"missing.7z"), m_folder, &failure));
    EXPECT_EQ(archivePath(L"missing.7z"), failure.file);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), failure.systemError);

    EXPECT_EQ(ExtractCrcError, extractArchive(archivePath(L"crc.7z"), m_folder, &failure));
    EXPECT_EQ(archivePath(L"crc.7z"), failure.file);
    EXPECT_EQ(0u, failure.systemError); // the data is at fault, not the system

    // A folder where the archive has a file.
    const std::wstring blocked = m_folder + L"\\blocked";
    CreateDirectoryW(blocked.c_str(), nullptr);
    for (const wchar_t* part : {L"\\VELA", L"\\VELA\\sub", L"\\VELA\\sub\\deep", L"\\VELA\\sub\\deep\\file.txt"})
        CreateDirectoryW((blocked + part).c_str(), nullptr);
    EXPECT_EQ(ExtractFileError, extractArchive(archivePath(L"stored.7z"), blocked, &failure));
    EXPECT_EQ(blocked + L"\\VELA\\sub\\deep\\file.txt", failure.file);
    EXPECT_NE(0u, failure.systemError);
}

TEST_F(FailureCauseTest, MissingTemporaryFolderFailsAtTheFirstStep)
{
    test::ResourceModule module({{PayloadArchive, test::readFile(archivePath(L"stored.7z"))}});
    ASSERT_TRUE(module.ok());
    const std::wstring missing = m_folder + L"\\no such folder";
    PayloadFailure failure;
    TemporaryFolder folder({missing});
    const bool extracted = extractPayload(module.get(), folder, &failure);
    EXPECT_FALSE(extracted);
    EXPECT_EQ(PayloadStep::CreateFolder, failure.step);
    EXPECT_EQ(missing + L"\\", failure.file);
    EXPECT_NE(0u, failure.systemError); // Windows says 3 (path not found), Wine 267 (bad folder name)
    EXPECT_TRUE(folder.path().empty());
}

TEST(PayloadFailure, MissingPayloadResourceIsItsOwnStep)
{
    test::ResourceModule empty({});
    PayloadFailure failure;
    TemporaryFolder folder;
    EXPECT_FALSE(extractPayload(empty.get(), folder, &failure));
    EXPECT_EQ(PayloadStep::ReadResource, failure.step);
    EXPECT_NE(0u, failure.systemError);
}

TEST(UnreadableInstallerFile, MissingProgramIsNotAFailedSignature)
{
    const std::wstring missing = test::tempPath() + L"tstest-no-such-installer.dat";
    ApplicationInstaller installer(missing, L"", L"SOFTWARE\\Tessaline\\Core", L"GUID");
    EXPECT_EQ(Installer::Failed, installer.verify());
    EXPECT_EQ(missing, installer.unreadableFile().path);
    EXPECT_EQ(static_cast<uint32_t>(ERROR_FILE_NOT_FOUND), installer.unreadableFile().error);

    // Present and readable but not a signed program: a signature failure as before.
    const std::wstring text = test::tempPath() + L"tstest-plain-installer.dat";
    test::writeFile(text, "not a program");
    ApplicationInstaller plain(text, L"", L"SOFTWARE\\Tessaline\\Core", L"GUID");
    EXPECT_EQ(Installer::Failed, plain.verify());
    EXPECT_EQ(0u, plain.unreadableFile().error);
    DeleteFileW(text.c_str());

    EXPECT_EQ(L"The installation file C:\\T\\VELA\\TessalineCore.dat is missing or cannot be read: system error 2: "
              L"The system cannot find the file specified.",
              unreadableFileText(L"C:\\T\\VELA\\TessalineCore.dat", 2, L"The system cannot find the file specified."));
}

}
}}} // namespace ts::app::setupInstall
