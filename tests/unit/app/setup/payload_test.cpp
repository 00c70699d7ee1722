#include "app/setup/payload.h"

#include "unit/app/setup/resourcemodule.h"
#include "support/testsupport.h"
#include "tk/libgui/resourcefunctions.h"

#include <gtest/gtest.h>
#include <stdexcept>

namespace ts { namespace app { namespace setupInstall {
namespace {

using test::archivePath;
using test::fileExists;
using test::readFile;
using test::ResourceModule;

bool isDirectory(const std::wstring& path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

size_t entryCount(const std::wstring& folder)
{
    size_t count = 0;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L".."))
            ++count;
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return count;
}

class ExtractArchiveTest : public ::testing::Test {
protected:
    const test::TempFolder m_temp{L"extract"};
    const std::wstring& m_folder = m_temp.path;
};

TEST_F(ExtractArchiveTest, UnpacksFoldersFilesAndNonAsciiNamesAcrossSolidBlocks)
{
    ASSERT_EQ(ExtractSuccess, extractArchive(archivePath(L"tree.7z"), m_folder));

    EXPECT_EQ(300000u, readFile(m_folder + L"\\VELA\\TessalineCore.dat").size());
    EXPECT_EQ(200000u, readFile(m_folder + L"\\VELA\\TessalineCore64.dat").size());
    EXPECT_EQ("deep file\r\n", readFile(m_folder + L"\\VELA\\sub\\deep\\file.txt"));
    EXPECT_TRUE(fileExists(m_folder + L"\\VELA\\empty.bin"));
    EXPECT_EQ("", readFile(m_folder + L"\\VELA\\empty.bin"));
    EXPECT_EQ("1\n2\n3\n", readFile(m_folder + L"\\DPINST32\\numbers.txt").substr(0, 6));
    EXPECT_TRUE(isDirectory(m_folder + L"\\emptydir"));
    EXPECT_EQ("cyrillic", readFile(m_folder + L"\\\u00dcn\u00efcode\\\u0434\u0430\u043d\u043d\u044b\u0435.txt"));
    EXPECT_EQ("cjk", readFile(m_folder + L"\\\u65e5\u672c.txt"));
    EXPECT_TRUE(hasCorePackage(m_folder));
}

TEST_F(ExtractArchiveTest, FolderWithTrailingSeparatorGivesTheSameLayout)
{
    ASSERT_EQ(ExtractSuccess, extractArchive(archivePath(L"stored.7z"), m_folder + L"\\"));
    EXPECT_EQ("deep file\r\n", readFile(m_folder + L"\\VELA\\sub\\deep\\file.txt"));
}

TEST_F(ExtractArchiveTest, ReportsWhyAnArchiveCannotBeUnpacked)
{
    EXPECT_EQ(ExtractCannotOpen, extractArchive(archivePath(L"missing.7z"), m_folder));
    EXPECT_EQ(ExtractNotArchive, extractArchive(archivePath(L"notarchive.7z"), m_folder));
    EXPECT_EQ(ExtractUnsupported, extractArchive(archivePath(L"bzip2.7z"), m_folder));
    EXPECT_EQ(ExtractCrcError, extractArchive(archivePath(L"crc.7z"), m_folder));
    EXPECT_EQ(ExtractInputEof, extractArchive(archivePath(L"truncated.7z"), m_folder));
}

TEST_F(ExtractArchiveTest, FileThatCannotBeCreatedIsAFileError)
{
    // A folder where the archive has a file.
    CreateDirectoryW((m_folder + L"\\VELA").c_str(), nullptr);
    CreateDirectoryW((m_folder + L"\\VELA\\sub").c_str(), nullptr);
    CreateDirectoryW((m_folder + L"\\VELA\\sub\\deep").c_str(), nullptr);
    CreateDirectoryW((m_folder + L"\\VELA\\sub\\deep\\file.txt").c_str(), nullptr);
    EXPECT_EQ(ExtractFileError, extractArchive(archivePath(L"stored.7z"), m_folder));
}

TEST_F(ExtractArchiveTest, SolidBlocksDecodedOnSeveralThreadsGiveTheSameFiles)
{
    const std::wstring single = m_folder + L"\\single";
    ASSERT_EQ(ExtractSuccess, extractArchive(archivePath(L"blocks.7z"), single, nullptr, 1));
    for (unsigned threads : {2u, 3u, 8u}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        const std::wstring folder = m_folder + L"\\" + std::to_wstring(threads);
        ASSERT_EQ(ExtractSuccess, extractArchive(archivePath(L"blocks.7z"), folder, nullptr, threads));
        EXPECT_EQ(8u, entryCount(folder));
        for (int n = 1; n <= 8; ++n) {
            const std::wstring name = L"\\part" + std::to_wstring(n) + L".bin";
            const std::string bytes = readFile(folder + name);
            EXPECT_EQ(100000u, bytes.size()) << n;
            EXPECT_TRUE(bytes == readFile(single + name)) << n;
        }
    }
    EXPECT_NE(readFile(single + L"\\part1.bin"), readFile(single + L"\\part2.bin"));
}

TEST_F(ExtractArchiveTest, DamagedBlockLeavesExactlyTheFilesBeforeItWhateverTheThreads)
{
    for (unsigned threads : {1u, 2u, 4u}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        const std::wstring folder = m_folder + L"\\" + std::to_wstring(threads);
        ExtractDetail detail;
        EXPECT_EQ(ExtractCrcError, extractArchive(archivePath(L"blocks-crc.7z"), folder, &detail, threads));
        EXPECT_EQ(archivePath(L"blocks-crc.7z"), detail.file);
        EXPECT_EQ(0u, detail.systemError);
        // The damage is in part6, in the third of four blocks: the fourth block may have
        // been decoded by then, but nothing after the damaged file is written.
        for (int n = 1; n <= 8; ++n)
            EXPECT_EQ(n < 6, fileExists(folder + L"\\part" + std::to_wstring(n) + L".bin")) << n;
    }
}

TEST_F(ExtractArchiveTest, FileErrorInALaterBlockStopsThereWithItsPath)
{
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(::testing::Message() << threads << " threads");
        const std::wstring folder = m_folder + L"\\" + std::to_wstring(threads);
        CreateDirectoryW(folder.c_str(), nullptr);
        CreateDirectoryW((folder + L"\\part4.bin").c_str(), nullptr);
        ExtractDetail detail;
        EXPECT_EQ(ExtractFileError, extractArchive(archivePath(L"blocks.7z"), folder, &detail, threads));
        EXPECT_EQ(folder + L"\\part4.bin", detail.file);
        EXPECT_NE(0u, detail.systemError);
        for (int n : {1, 2, 3})
            EXPECT_TRUE(fileExists(folder + L"\\part" + std::to_wstring(n) + L".bin")) << n;
        for (int n : {5, 6, 7, 8})
            EXPECT_FALSE(fileExists(folder + L"\\part" + std::to_wstring(n) + L".bin")) << n;
    }
}

TEST_F(ExtractArchiveTest, RefusesEntryNamesThatLeaveTheFolderBeforeWritingAnything)
{
    const std::wstring inner = m_folder + L"\\inner";
    CreateDirectoryW(inner.c_str(), nullptr);
    for (const wchar_t* name : {L"evil-dotdot.7z", L"evil-drive.7z", L"evil-rooted.7z", L"evil-backslash.7z",
                                L"evil-inner.7z"}) {
        SCOPED_TRACE(::testing::Message() << name);
        EXPECT_EQ(ExtractArchiveError, extractArchive(archivePath(name), inner));
        EXPECT_EQ(0u, entryCount(inner)); // not even the harmless first entry
    }
    EXPECT_EQ(1u, entryCount(m_folder));
    EXPECT_FALSE(fileExists(L"C:\\outside.txt"));
    EXPECT_FALSE(fileExists(L"\\zzoutside.txt"));
}

TEST_F(ExtractArchiveTest, ArchiveWhoseEntriesHaveNoNamesIsAnArchiveError)
{
    // A damaged header can lose its names property; the decoder then has no name table.
    ExtractDetail detail;
    EXPECT_EQ(ExtractArchiveError, extractArchive(archivePath(L"nonames.7z"), m_folder, &detail));
    EXPECT_EQ(archivePath(L"nonames.7z"), detail.file);
    EXPECT_EQ(0u, detail.systemError);
    EXPECT_EQ(0u, entryCount(m_folder));
}

TEST_F(ExtractArchiveTest, EveryBlockStructureGivesTheFileByteForByte)
{
    const std::string data = readFile(archivePath(L"stream-data.bin"));
    ASSERT_EQ(3200000u, data.size());
    for (const wchar_t* name : {L"bcj", L"arm64", L"delta", L"arm", L"window2", L"window1", L"bcj2"}) {
        SCOPED_TRACE(::testing::Message() << name);
        const std::wstring folder = m_folder + L"\\" + name;
        ASSERT_EQ(ExtractSuccess, extractArchive(archivePath((L"stream-" + std::wstring(name) + L".7z").c_str()), folder));
        EXPECT_TRUE(readFile(folder + L"\\data.bin") == data);
    }
}

TEST_F(ExtractArchiveTest, BlockBeyondTheMemoryLimitFailsBeforeWritingWithItsSizeAndFile)
{
    // Streamed (a window of the 200000-byte block) and whole (BCJ2: 3.2 MB and more).
    for (const wchar_t* name : {L"blocks.7z", L"stream-bcj2.7z"}) {
        SCOPED_TRACE(::testing::Message() << name);
        const std::wstring folder = m_folder + L"\\" + name;
        ExtractDetail detail;
        EXPECT_EQ(ExtractOutOfMemory, extractArchive(archivePath(name), folder, &detail, 2, 150000));
        EXPECT_GT(detail.memory, 150000u);
        EXPECT_EQ(8u, detail.systemError);
        EXPECT_EQ(0u, entryCount(folder));
        PayloadFailure failure{PayloadStep::Unpack, detail.file, ExtractOutOfMemory, detail.systemError, detail.memory};
        EXPECT_EQ(L"Unpacking the payload failed while unpacking " + folder +
                      (name[0] == L'b' ? L"\\part1.bin" : L"\\data.bin") + L": not enough memory for " +
                      std::to_wstring(detail.memory) + L" bytes: archive result 4, system error 8",
                  describePayloadFailure(failure, L""));
        EXPECT_EQ(ExtractSuccess, extractArchive(archivePath(name), folder, nullptr, 2, detail.memory));
    }
}

TEST(EntryNames, OnlyNamesInsideTheFolderAreSafe)
{
    for (const wchar_t* name : {L"a.txt", L"VELA/TessalineCore.dat", L"VELA\\sub\\x", L"..a", L"a..", L"a/..b/c", L"."})
        EXPECT_TRUE(isSafeEntryName(name)) << name;
    for (const wchar_t* name : {L"", L"..", L"../a", L"a/../b", L"a\\..", L"a\\..\\..\\b", L"/a", L"\\a", L"C:a",
                                L"C:\\a", L"a:stream", L"\\\\server\\share\\a"})
        EXPECT_FALSE(isSafeEntryName(name)) << name;
}

TEST(EntryNames, JoinedWithOneBackslashAndSlashesTurned)
{
    EXPECT_EQ(L"C:\\T\\a\\b.txt", entryPath(L"C:\\T", L"a/b.txt"));
    EXPECT_EQ(L"C:\\T\\a\\b.txt", entryPath(L"C:\\T\\", L"a\\b.txt"));
    EXPECT_EQ(L"C:/T/a", entryPath(L"C:/T/", L"a"));
}

TEST(DecoderResults, MapToTheExtractionCodes)
{
    const int decoder[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 16, 17};
    const ExtractResult expected[] = {ExtractSuccess,        ExtractDataError,      ExtractOutOfMemory,
                                      ExtractCrcError,       ExtractUnsupported,    ExtractBadParameter,
                                      ExtractInputEof,       ExtractOutputOverflow, ExtractReadError,
                                      ExtractWriteError,     ExtractProgressAborted, ExtractFailure,
                                      ExtractThreadError,    ExtractArchiveError,   ExtractNotArchive};
    for (size_t i = 0; i < sizeof decoder / sizeof decoder[0]; ++i)
        EXPECT_EQ(expected[i], mapDecoderResult(decoder[i])) << decoder[i];
    EXPECT_EQ(3, ExtractDataError);
    EXPECT_EQ(16, ExtractNotArchive);
    for (int other : {13, 14, 15, 18, -1, 1000})
        EXPECT_EQ(ExtractOther, mapDecoderResult(other)) << other;
}

TEST(TemporaryFolder, CreatesOnceAndDeletesWithContent)
{
    std::wstring path;
    {
        TemporaryFolder folder;
        ASSERT_TRUE(folder.create(path));
        EXPECT_EQ(L'\\', path.back());
        EXPECT_EQ(path, folder.path());
        EXPECT_TRUE(isDirectory(path));
        std::wstring second;
        EXPECT_FALSE(folder.create(second));
        EXPECT_EQ(L"", second);
        CreateDirectoryW((path + L"sub").c_str(), nullptr);
        test::writeFile(path + L"sub\\file.txt", "x");
    }
    EXPECT_FALSE(fileExists(path));
}

TEST(Resources, WrittenToAFileByteForByte)
{
    const std::string bytes("\x00\x01payload\xff", 10);
    ResourceModule module({{7, bytes}});
    ASSERT_TRUE(module.ok());
    const test::TempFolder temp(L"resource");
    const std::wstring& folder = temp.path;
    EXPECT_TRUE(hasResource(module.get(), 7));
    EXPECT_FALSE(hasResource(module.get(), 8));
    EXPECT_TRUE(writeResourceToFile(module.get(), 7, folder + L"\\out.bin"));
    EXPECT_EQ(bytes, readFile(folder + L"\\out.bin"));
    EXPECT_FALSE(writeResourceToFile(module.get(), 8, folder + L"\\missing.bin"));
    EXPECT_FALSE(fileExists(folder + L"\\missing.bin"));
    EXPECT_FALSE(writeResourceToFile(module.get(), 7, folder + L"\\no such folder\\out.bin"));
}

TEST(Payload, ExtractedIntoANewTemporaryFolder)
{
    ResourceModule module({{PayloadArchive, readFile(archivePath(L"stored.7z"))}});
    ASSERT_TRUE(module.ok());
    std::wstring path;
    {
        TemporaryFolder folder;
        ASSERT_TRUE(extractPayload(module.get(), folder));
        path = folder.path();
        EXPECT_EQ("deep file\r\n", readFile(path + L"VELA\\sub\\deep\\file.txt"));
        EXPECT_TRUE(fileExists(path + L"additional.7z"));
    }
    EXPECT_FALSE(fileExists(path));

    ResourceModule empty({});
    TemporaryFolder folder;
    EXPECT_FALSE(extractPayload(empty.get(), folder));
}

TEST(CorePackage, BothPackagesAreNeeded)
{
    const test::TempFolder temp(L"core32");
    const std::wstring& folder = temp.path;
    ASSERT_EQ(ExtractSuccess, extractArchive(archivePath(L"core32only.7z"), folder));
    EXPECT_FALSE(hasCorePackage(folder));
    EXPECT_FALSE(hasCorePackage(folder + L"\\nowhere"));
}

TEST(CorePackage, ResourceOfThePlatformWinsOverTheArchive)
{
    const test::TempFolder temp(L"corepath");
    const std::wstring folder = temp.path + L"\\";
    ResourceModule none({});
    EXPECT_EQ(folder + L"VELA\\TessalineCore.dat", corePackagePath(folder, none.get(), false));
    EXPECT_EQ(folder + L"VELA\\TessalineCore64.dat", corePackagePath(folder, none.get(), true));

    ResourceModule only64({{CoreInstaller64, "core 64"}});
    EXPECT_EQ(folder + L"VELA\\TessalineCore.dat", corePackagePath(folder, only64.get(), false));
    const std::wstring written = corePackagePath(folder, only64.get(), true);
    EXPECT_EQ(folder, written.substr(0, folder.size()));
    EXPECT_EQ(L"TS", written.substr(folder.size(), 2));
    EXPECT_EQ("core 64", readFile(written));

    try {
        corePackagePath(folder + L"gone\\", only64.get(), true);
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ("Could not extract embedded Core installer from resources", e.what());
    }
}

std::string utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

TEST(Layout, LinesOfTheShippedTextWithoutMarkOrEmptyLines)
{
    const std::wstring text = L"\xFEFF"
                              L"DPINST x64 DPINST64\\DpInst.exe\r\nDPINST x86 DPINST32\\DpInst.exe\r\n\r\n"
                              L"REM Location\r\nDRIVER \"Tessaline Device\" x64 * \"VELA\"\nlast\r\n\r\n";
    const std::vector<std::wstring> expected = {L"DPINST x64 DPINST64\\DpInst.exe", L"DPINST x86 DPINST32\\DpInst.exe",
                                                L"REM Location", L"DRIVER \"Tessaline Device\" x64 * \"VELA\"",
                                                L"last"};
    EXPECT_EQ(expected, splitLayoutLines(text.data(), text.size()));
    ResourceModule module({{LayoutResource, utf16(text)}});
    EXPECT_EQ(expected, loadLayout(module.get()));
    EXPECT_TRUE(splitLayoutLines(L"\xFEFF\r\n\r\n", 5).empty());
    EXPECT_EQ(std::vector<std::wstring>{L"a"}, splitLayoutLines(L"a", 1));
}

TEST(Layout, MissingOrOddResourceIsAnError)
{
    auto errorOf = [](HMODULE module) -> std::string {
        try {
            loadLayout(module);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "";
    };
    ResourceModule missing({});
    EXPECT_EQ("Unable to find embedded layout file resource", errorOf(missing.get()));
    ResourceModule odd({{LayoutResource, "abc"}});
    EXPECT_EQ("Unexpected contents of embedded layout file resource", errorOf(odd.get()));
}

class ExtractDriversTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_folder = m_root + L"\\payload\\";
        CreateDirectoryW((m_root + L"\\payload").c_str(), nullptr);
        CreateDirectoryW((m_folder + L"VELA").c_str(), nullptr);
        CreateDirectoryW((m_folder + L"VELA\\sub").c_str(), nullptr);
        test::writeFile(m_folder + L"VELA\\TessalineUsb.inf", "inf");
        test::writeFile(m_folder + L"VELA\\tessaline.sys", "sys");
        test::writeFile(m_folder + L"VELA\\DPInst.xml", "xml");
        test::writeFile(m_folder + L"VELA\\sub\\nested.txt", "nested");
        CreateDirectoryW((m_folder + L"VELA\\sub\\deep").c_str(), nullptr);
        test::writeFile(m_folder + L"VELA\\sub\\deep\\DPInst.xml", "deep");
        wchar_t current[MAX_PATH];
        GetCurrentDirectoryW(MAX_PATH, current);
        m_previous = current;
        SetCurrentDirectoryW(m_root.c_str());
    }
    void TearDown() override
    {
        SetCurrentDirectoryW(m_previous.c_str());
    }
    const test::TempFolder m_temp{L"drivers"};
    const std::wstring& m_root = m_temp.path;
    std::wstring m_folder, m_previous;
};

TEST_F(ExtractDriversTest, RelativeTargetGetsTwelveFoldersWithAllSubfolders)
{
    extractDrivers(m_folder, L"out");
    const std::vector<std::wstring> names = driverFolderNames();
    ASSERT_EQ(12u, names.size());
    EXPECT_EQ(L"Windows7-x86", names.front());
    EXPECT_EQ(L"Windows8.1-x64", names[5]);
    EXPECT_EQ(L"W2K12R2-x64", names.back());
    for (const std::wstring& name : names) {
        const std::wstring destination = m_root + L"\\out\\" + name;
        SCOPED_TRACE(::testing::Message() << tk::gui::resource::toNarrow(name));
        EXPECT_EQ("inf", readFile(destination + L"\\TessalineUsb.inf"));
        EXPECT_EQ("sys", readFile(destination + L"\\tessaline.sys"));
        EXPECT_FALSE(fileExists(destination + L"\\DPInst.xml"));
        EXPECT_EQ("nested", readFile(destination + L"\\sub\\nested.txt"));
        EXPECT_EQ("deep", readFile(destination + L"\\sub\\deep\\DPInst.xml")); // only the top one is left out
        EXPECT_EQ(3u, entryCount(destination));
    }
    // A second extraction overwrites what is there.
    test::writeFile(m_root + L"\\out\\W2K8R2-x86\\tessaline.sys", "old");
    extractDrivers(m_folder, m_root + L"\\out");
    EXPECT_EQ("sys", readFile(m_root + L"\\out\\W2K8R2-x86\\tessaline.sys"));
}

// The text of the error extractDrivers raises; "" when it raises none.
std::string extractionError(const std::wstring& folder, const std::wstring& target)
{
    try {
        extractDrivers(folder, target);
    } catch (const std::runtime_error& e) {
        return e.what();
    }
    return "";
}

TEST_F(ExtractDriversTest, FolderThatCannotBeCreatedStopsTheExtraction)
{
    test::writeFile(m_root + L"\\out", "a file where the target folder should be");
    EXPECT_EQ("Failed to create directory " + tk::gui::resource::toNarrow(m_root) + "\\out\\Windows7-x86",
              extractionError(m_folder, m_root + L"\\out"));
}

TEST_F(ExtractDriversTest, FileThatCannotBeCopiedStopsTheExtraction)
{
    CreateDirectoryW((m_root + L"\\out").c_str(), nullptr);
    CreateDirectoryW((m_root + L"\\out\\Windows7-x64").c_str(), nullptr);
    CreateDirectoryW((m_root + L"\\out\\Windows7-x64\\tessaline.sys").c_str(), nullptr); // a folder in its way
    const std::string root = tk::gui::resource::toNarrow(m_root);
    EXPECT_EQ("Failed to copy file " + root + "\\payload\\VELA\\tessaline.sys to " + root +
                  "\\out\\Windows7-x64\\tessaline.sys",
              extractionError(m_folder, m_root + L"\\out"));
    // The destinations before it are filled, the ones after it untouched.
    EXPECT_EQ("sys", readFile(m_root + L"\\out\\Windows7-x86\\tessaline.sys"));
    EXPECT_FALSE(fileExists(m_root + L"\\out\\Windows8-x86"));
}

TEST_F(ExtractDriversTest, DestinationThatIsAFileStopsTheExtraction)
{
    CreateDirectoryW((m_root + L"\\out").c_str(), nullptr);
    test::writeFile(m_root + L"\\out\\Windows8-x86", "a file");
    try {
        extractDrivers(m_folder, m_root + L"\\out");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(tk::gui::resource::toNarrow(m_root) + "\\out\\Windows8-x86is not directory.", e.what());
    }
    EXPECT_TRUE(fileExists(m_root + L"\\out\\Windows7-x64\\tessaline.sys"));
}

}
}}} // namespace ts::app::setupInstall
