// Win32 only: signer name and trust checks through CryptQueryObject and WinVerifyTrust.
// Neither library is a known DLL, so both are loaded from the system folder when first
// needed instead of being imported (an import would be looked for beside Setup.exe).
#include "sys/libutils/win32/signature.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/text.h"
#include "sys/libutils/win32/library.h"

#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <vector>

namespace ts { namespace sys { namespace win32 {

using sys::toNarrow;

namespace {

class Reporter : public Logger::Logged {
public:
    explicit Reporter(const char* name) : Identity(name, ""), Logger::Logged(Logger::instance(), name, "") {}
    void error(const std::string& text)
    {
        TS_LOG(*this, LogLevel::Error) << text;
    }
    void error(const std::string& text, DWORD code)
    {
        TS_LOG(*this, LogLevel::Error) << text << toNarrow(windowsErrorText(code));
    }
};

template <typename Fn>
Fn crypt32(const char* name)
{
    return systemFunction<Fn>("crypt32.dll", name);
}

// Closes what CryptQueryObject and CertFindCertificateInStore handed out. Whatever was
// handed out came from crypt32, so its release functions resolve.
struct SignatureObjects {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    ~SignatureObjects()
    {
        if (certificate)
            crypt32<decltype(&CertFreeCertificateContext)>("CertFreeCertificateContext")(certificate);
        if (message)
            crypt32<decltype(&CryptMsgClose)>("CryptMsgClose")(message);
        if (store)
            crypt32<decltype(&CertCloseStore)>("CertCloseStore")(store, 0);
    }
};

// The state WinVerifyTrust keeps between a verify and its close. Closes it on
// destruction, so no path leaves it open.
class TrustVerification {
public:
    explicit TrustVerification(const wchar_t* path)
    {
        m_file.cbStruct = sizeof m_file;
        m_file.pcwszFilePath = path;
        m_data.cbStruct = sizeof m_data;
        m_data.dwUIChoice = WTD_UI_NONE;
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
    }
    TrustVerification(const TrustVerification&) = delete;
    TrustVerification& operator=(const TrustVerification&) = delete;
    ~TrustVerification()
    {
        if (!m_open)
            return;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        m_verify(nullptr, &m_action, &m_data);
    }

    // The verification result; the thread's last error is the one WinVerifyTrust left.
    LONG verify()
    {
        m_verify = systemFunction<decltype(&WinVerifyTrust)>("wintrust.dll", "WinVerifyTrust");
        if (!m_verify)
            return static_cast<LONG>(HRESULT_FROM_WIN32(GetLastError()));
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
        LONG result = m_verify(nullptr, &m_action, &m_data);
        m_open = true;
        return result;
    }

private:
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    GUID m_action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    decltype(&WinVerifyTrust) m_verify = nullptr;
    bool m_open = false;
};

} // namespace

std::wstring Signature::fileSignedBy(const wchar_t* path)
{
    Reporter log("Signature::fileSignedBy");
    SignatureObjects objects;
    DWORD contentType = 0;
    auto queryObject = crypt32<decltype(&CryptQueryObject)>("CryptQueryObject");
    auto messageParameter = crypt32<decltype(&CryptMsgGetParam)>("CryptMsgGetParam");
    auto findCertificate = crypt32<decltype(&CertFindCertificateInStore)>("CertFindCertificateInStore");
    auto nameString = crypt32<decltype(&CertGetNameStringW)>("CertGetNameStringW");
    if (!queryObject || !messageParameter || !findCertificate || !nameString) {
        log.error("Failed to query signature:", GetLastError());
        return L"";
    }
    if (!queryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                     CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, &contentType, nullptr, &objects.store, &objects.message,
                     nullptr)) {
        log.error("Failed to query signature:", GetLastError());
        return L"";
    }
    if (contentType != CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED) {
        log.error("Incorrect signature type: ", GetLastError());
        return L"";
    }
    DWORD size = 0;
    if (!messageParameter(objects.message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) {
        log.error("Failed to get signer info size: ", GetLastError());
        return L"";
    }
    std::vector<BYTE> buffer(size);
    if (!messageParameter(objects.message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
        log.error("Failed to get signer info: ", GetLastError());
        return L"";
    }
    const CMSG_SIGNER_INFO* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    CERT_INFO certInfo = {};
    certInfo.Issuer = signer->Issuer;
    certInfo.SerialNumber = signer->SerialNumber;
    objects.certificate = findCertificate(objects.store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                          CERT_FIND_SUBJECT_CERT, &certInfo, nullptr);
    if (!objects.certificate) {
        log.error("Failed to get signer's certificate: ", GetLastError());
        return L"";
    }
    DWORD count = 0;
    if (!messageParameter(objects.message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &count) || count == 0) {
        log.error("Failed to get signer's name size: ", GetLastError());
        return L"";
    }
    std::vector<wchar_t> name(count);
    if (nameString(objects.certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), count) == 0) {
        log.error("Failed to get signer's name: ", GetLastError());
        return L"";
    }
    name.back() = L'\0';
    return name.data();
}

std::string trustFailureText(long result, unsigned long lastError, const std::wstring& path)
{
    switch (static_cast<unsigned long>(result)) {
    case 0x800B0100: // TRUST_E_NOSIGNATURE
        if (lastError == 0x800B0100)
            return "The file " + toNarrow(path) + " is not signed.";
        if (lastError == 0x800B0001)
            return "The trust provider is not recognized on this system.";
        if (lastError == 0x800B0003)
            return "The trust provider does not support the form specified for the subject.";
        return "The signature was not valid or there was an error opening the file " + toNarrow(path);
    case 0x80096010: // TRUST_E_BAD_DIGEST
        return "The digital signature of the object did not verify.";
    case 0x800B0111: // TRUST_E_EXPLICIT_DISTRUST
        return "The signature is present, but specifically disallowed.";
    default:
        return "Checking the trust failed. " + toNarrow(windowsErrorText(static_cast<uint32_t>(result)));
    }
}

bool Signature::isSignedFileTrusted(const wchar_t* path)
{
    LONG result;
    DWORD lastError;
    {
        TrustVerification verification(path);
        result = verification.verify();
        lastError = GetLastError();
    }
    if (result == 0)
        return true;
    Reporter log("Signature::isSignedFileTrusted");
    log.error(trustFailureText(result, lastError, path));
    SetLastError(static_cast<DWORD>(result));
    return false;
}

bool isFileSignedBy(const wchar_t* path, const wchar_t* expectedName)
{
    return Signature::fileSignedBy(path) == expectedName;
}

bool isSignedByMaker(const std::wstring& path)
{
    if (!isFileSignedBy(path.c_str(), L"TESSALINE") && !isFileSignedBy(path.c_str(), L"TESSALINE (TEST CERTIFICATE)"))
        return false;
    return Signature::isSignedFileTrusted(path.c_str());
}

bool isDriverInstallerSigner(const std::wstring& name)
{
    for (const wchar_t* signer :
         {L"TESSALINE", L"TESSALINE (TEST CERTIFICATE)", L"Microsoft Windows", L"Microsoft Corporation"})
        if (name == signer)
            return true;
    return false;
}

bool isSignedDriverInstaller(const std::wstring& path)
{
    return isDriverInstallerSigner(Signature::fileSignedBy(path.c_str())) &&
           Signature::isSignedFileTrusted(path.c_str());
}

}}} // namespace ts::sys::win32
