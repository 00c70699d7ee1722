// The bundler reads signer names from the DER bytes itself; Windows must read the same
// names from the same files, or the bundler would pass a folder Setup then refuses.
#include "tools/bundle/signer.h"
#include "sys/libutils/win32/signature.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>

using namespace ts::bundle;

namespace {

std::wstring fixture(const wchar_t* name)
{
    return ts::test::buildDir() + L"\\testdata\\" + name;
}

std::string utf8(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += static_cast<char>(c); // the certificate names are ASCII
    return out;
}

} // namespace

TEST(BundleSigner, EmbeddedSignerNamesAsWindowsReadsThem)
{
    for (const wchar_t* name : {L"signed-test.exe", L"signed-trailing.exe", L"signed-lower.exe", L"signed-other.exe",
                                L"tampered.exe"}) {
        SignerName signer = peSignerName(fixture(name));
        EXPECT_EQ(SignerName::Signed, signer.status) << utf8(name);
        EXPECT_EQ(utf8(ts::sys::win32::Signature::fileSignedBy(fixture(name).c_str())), signer.name) << utf8(name);
    }
    EXPECT_EQ(SignerName::Unsigned, peSignerName(fixture(L"unsigned.exe")).status);
    EXPECT_EQ(SignerName::Unreadable, peSignerName(fixture(L"no-such-file.exe")).status);
}

TEST(BundleSigner, OnlyTheMakersTwoNamesPass)
{
    EXPECT_TRUE(isMakerName(peSignerName(fixture(L"signed-test.exe")).name));
    for (const wchar_t* name : {L"signed-trailing.exe", L"signed-lower.exe", L"signed-other.exe"})
        EXPECT_FALSE(isMakerName(peSignerName(fixture(name)).name)) << utf8(name);
    EXPECT_TRUE(isMakerName("TESSALINE"));
}

TEST(BundleSigner, CatalogSigner)
{
    // A signed catalog of the end-to-end tests, and the start of it cut off.
    const std::wstring catalog = fixture(L"e2e\\listchanged.cat");
    SignerName signer = catalogSignerName(catalog);
    EXPECT_EQ(SignerName::Signed, signer.status);
    EXPECT_EQ("TESSALINE (TEST CERTIFICATE)", signer.name);

    std::ifstream in(std::filesystem::path(catalog), std::ios::binary);
    std::vector<uint8_t> der(std::istreambuf_iterator<char>(in), {});
    ASSERT_GT(der.size(), 400u);
    for (size_t cut : {der.size() - 1, der.size() / 2, size_t(3)})
        EXPECT_EQ(SignerName::Unreadable, pkcs7SignerName(std::vector<uint8_t>(der.begin(), der.begin() + cut)).status)
            << cut;
}
