// The bundler's resource writer, checked by the Windows loader itself: what it writes
// must load as a module and yield the same resources through FindResource.
#include "tools/bundle/peimage.h"
#include "tools/bundle/productfolder.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <imagehlp.h>

using namespace ts::bundle;
using namespace ts::test;

namespace {

std::vector<uint8_t> bytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

Resource resource(ResourceKey type, ResourceKey name, uint16_t language, std::vector<uint8_t> data)
{
    Resource r;
    r.type = std::move(type);
    r.name = std::move(name);
    r.language = language;
    r.data = std::move(data);
    return r;
}

std::string loaded(HMODULE module, const wchar_t* type, const wchar_t* name, WORD language)
{
    HRSRC found = FindResourceExW(module, type, name, language);
    if (!found)
        return "<missing>";
    HGLOBAL data = LoadResource(module, found);
    const char* bytes = static_cast<const char*>(LockResource(data));
    return std::string(bytes, SizeofResource(module, found));
}

// Where the resource section's data starts in the file.
uint32_t resourceFileOffset(const std::vector<uint8_t>& bytes)
{
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data())->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        if (memcmp(section->Name, ".rsrc", 6) == 0)
            return section->PointerToRawData;
    return 1;
}

class PeImageTest : public ::testing::Test {
protected:
    // The real Setup stub: stripped, with its own manifest, dialogs and strings.
    std::vector<uint8_t> stub()
    {
        std::string text = readFile(buildDir() + L"\\unsigned\\Setup.exe");
        return std::vector<uint8_t>(text.begin(), text.end());
    }
    std::wstring write(const PeImage& image)
    {
        std::wstring path = m_dir.path + L"\\out.exe";
        writeFile(path, std::string(image.bytes().begin(), image.bytes().end()));
        return path;
    }
    TempFolder m_dir{L"peimage"};
};

} // namespace

TEST_F(PeImageTest, WindowsLoadsTheWrittenResourcesAndKeepsTheStubsOwn)
{
    PeImage image(stub());
    std::vector<Resource> resources = image.resources();
    size_t before = resources.size();
    ASSERT_GT(before, 0u);
    std::string big(3 * 1024 * 1024 + 5, 'p');
    for (size_t i = 0; i < big.size(); i += 4096)
        big[i] = static_cast<char>(i / 4096);
    putResource(resources, resource(ResourceKey::text("EXE"), ResourceKey::number(4), 0, bytesOf(big)));
    putResource(resources, resource(ResourceKey::text("exe"), ResourceKey::number(1), 0, bytesOf("odd")));
    putResource(resources, resource(ResourceKey::number(6), ResourceKey::number(3), 1031,
                                    stringBlock({{33, u"Schon aktuell"}}, 32)));
    image.setResources(resources);
    image.updateChecksum();
    // On a page boundary, Wine maps the payload instead of copying it at every start.
    EXPECT_EQ(0u, resourceFileOffset(image.bytes()) % 4096);
    std::wstring path = write(image);

    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module) << GetLastError();
    EXPECT_EQ(big, loaded(module, L"EXE", MAKEINTRESOURCEW(4), 0));
    EXPECT_EQ("odd", loaded(module, L"EXE", MAKEINTRESOURCEW(1), 0));
    // The stub's manifest is still there, and the new language's message block.
    EXPECT_EQ("<?xml", loaded(module, MAKEINTRESOURCEW(24), MAKEINTRESOURCEW(1), 0).substr(0, 5));
    std::vector<uint8_t> block = stringBlock({{33, u"Schon aktuell"}}, 32);
    EXPECT_EQ(std::string(block.begin(), block.end()), loaded(module, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(3), 1031));
    FreeLibrary(module);

    // Reading it back gives the same tree: one more resource per new key.
    PeImage reread{std::vector<uint8_t>(image.bytes())};
    EXPECT_EQ(before + 3, reread.resources().size());
}

TEST_F(PeImageTest, ChecksumIsTheOneWindowsComputes)
{
    PeImage image(stub());
    std::vector<Resource> resources = image.resources();
    putResource(resources, resource(ResourceKey::text("EXE"), ResourceKey::number(3), 0, bytesOf("layout")));
    image.setResources(resources);
    image.setTimestamp(0);
    image.updateChecksum();
    std::wstring path = write(image);
    DWORD header = 0, computed = 0;
    ASSERT_EQ(CHECKSUM_SUCCESS, MapFileAndCheckSumW(path.c_str(), &header, &computed));
    EXPECT_EQ(computed, header);
    EXPECT_EQ(computed, image.checksum());
}

TEST_F(PeImageTest, AProgramWithoutResourcesGetsASectionAndStillRuns)
{
    // tsexit has no resource section and keeps its COFF symbols, which must move along.
    std::string text = readFile(buildDir() + L"\\bin\\tsexit.exe");
    PeImage image(std::vector<uint8_t>(text.begin(), text.end()));
    std::vector<Resource> resources = image.resources();
    putResource(resources, resource(ResourceKey::text("MSI"), ResourceKey::number(1), 0, bytesOf("package")));
    image.setResources(resources);
    image.updateChecksum();
    EXPECT_EQ(0u, resourceFileOffset(image.bytes()) % 4096);
    std::wstring path = write(image);
    HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    EXPECT_EQ("package", loaded(module, L"MSI", MAKEINTRESOURCEW(1), 0));
    FreeLibrary(module);
    ProcessResult run = runProcess(L"\"" + path + L"\" 1234");
    EXPECT_EQ(1234u, run.exitCode);
}

TEST_F(PeImageTest, RefusesASignedProgram)
{
    std::string text = readFile(buildDir() + L"\\bin\\Setup.exe");
    PeImage image(std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_THROW(image.setResources(image.resources()), BundleError);
}

TEST_F(PeImageTest, RefusesWhatIsNotAPe32File)
{
    EXPECT_THROW(PeImage(bytesOf("MZ not really")), BundleError);
    EXPECT_THROW(PeImage(bytesOf("plain text that is long enough to have an e_lfanew field, but no MZ")), BundleError);
}
