#include "sys/libutils/win32/signature.h"
#include "support/testsupport.h"

#include <windows.h>
#include <gtest/gtest.h>

using namespace ts::sys::win32;

namespace {
std::wstring fixture(const wchar_t* name)
{
    return ts::test::buildDir() + L"\\testdata\\" + name;
}
}

TEST(Signature, SignerNameOfEmbeddedSignatures)
{
    EXPECT_EQ(L"TESSALINE (TEST CERTIFICATE)", Signature::fileSignedBy(fixture(L"signed-test.exe").c_str()));
    EXPECT_EQ(L"TESSALINE ", Signature::fileSignedBy(fixture(L"signed-trailing.exe").c_str()));
    EXPECT_EQ(L"Tessaline", Signature::fileSignedBy(fixture(L"signed-lower.exe").c_str()));
    EXPECT_EQ(L"", Signature::fileSignedBy(fixture(L"unsigned.exe").c_str()));
    EXPECT_EQ(L"", Signature::fileSignedBy(fixture(L"no-such-file.exe").c_str()));
}

TEST(Signature, MakerNamesMatchExactly)
{
    EXPECT_TRUE(isSignedByMaker(fixture(L"signed-test.exe")));
    EXPECT_FALSE(isSignedByMaker(fixture(L"signed-trailing.exe")));
    EXPECT_FALSE(isSignedByMaker(fixture(L"signed-lower.exe")));
    EXPECT_FALSE(isSignedByMaker(fixture(L"signed-other.exe")));
    EXPECT_FALSE(isSignedByMaker(fixture(L"unsigned.exe")));
    EXPECT_TRUE(isFileSignedBy(fixture(L"signed-lower.exe").c_str(), L"Tessaline"));
}

TEST(Signature, FileChangedAfterSigningIsNotTheMakers)
{
    // The signer name is still there; only the digest tells.
    EXPECT_EQ(L"TESSALINE (TEST CERTIFICATE)", Signature::fileSignedBy(fixture(L"tampered.exe").c_str()));
    EXPECT_FALSE(isSignedByMaker(fixture(L"tampered.exe")));
}

TEST(Signature, TrustResults)
{
    EXPECT_TRUE(Signature::isSignedFileTrusted(fixture(L"signed-other.exe").c_str()));
    EXPECT_FALSE(Signature::isSignedFileTrusted(fixture(L"tampered.exe").c_str()));
    EXPECT_EQ(0x80096010u, GetLastError());
    EXPECT_FALSE(Signature::isSignedFileTrusted(fixture(L"unsigned.exe").c_str()));
    EXPECT_EQ(0x800B0100u, GetLastError());
}

TEST(Signature, TrustFailureTexts)
{
    const std::wstring path = L"C:\\x.cat";
    EXPECT_EQ("The file C:\\x.cat is not signed.", trustFailureText(0x800B0100, 0x800B0100, path));
    EXPECT_EQ("The trust provider is not recognized on this system.", trustFailureText(0x800B0100, 0x800B0001, path));
    EXPECT_EQ("The trust provider does not support the form specified for the subject.",
              trustFailureText(0x800B0100, 0x800B0003, path));
    EXPECT_EQ("The signature was not valid or there was an error opening the file C:\\x.cat",
              trustFailureText(0x800B0100, 2, path));
    EXPECT_EQ("The digital signature of the object did not verify.", trustFailureText(0x80096010, 0, path));
    EXPECT_EQ("The signature is present, but specifically disallowed.", trustFailureText(0x800B0111, 0, path));
    EXPECT_EQ(0u, trustFailureText(0x800B0109, 0, path).find("Checking the trust failed. win32 0x800b0109: "));
}
