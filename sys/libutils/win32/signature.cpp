// Win32 only: signer name and trust checks through CryptQueryObject and WinVerifyTrust.
#include "sys/libutils/win32/signature.h"

#include "sys/libutils/exception.h"
#include "sys/libutils/logger.h"
#include "sys/libutils/text.h"

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

// Closes what CryptQueryObject and CertFindCertificateInStore handed out.
struct SignatureObjects {
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    PCCERT_CONTEXT certificate = nullptr;
    ~SignatureObjects()
    {
        if (certificate)
            CertFreeCertificateContext(certificate);
        if (message)
            CryptMsgClose(message);
        if (store)
            CertCloseStore(store, 0);
    }
};

} // namespace

std::wstring Signature::fileSignedBy(const wchar_t* path)
{
    Reporter log("Signature::fileSignedBy");
    SignatureObjects objects;
    DWORD contentType = 0;
    if (!CryptQueryObject(CERT_QUERY_OBJECT_FILE, path, CERT_QUERY_CONTENT_FLAG_PKCS7_SIGNED_EMBED,
                          CERT_QUERY_FORMAT_FLAG_BINARY, 0, nullptr, &contentType, nullptr, &objects.store,
                          &objects.message, nullptr)) {
        log.error("Failed to query signature:", GetLastError());
        return L"";
    }
    if (contentType != CERT_QUERY_CONTENT_PKCS7_SIGNED_EMBED) {
        log.error("Incorrect signature type: ", GetLastError());
        return L"";
    }
    DWORD size = 0;
    if (!CryptMsgGetParam(objects.message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &size) || size == 0) {
        log.error("Failed to get signer info size: ", GetLastError());
        return L"";
    }
    std::vector<BYTE> buffer(size);
    if (!CryptMsgGetParam(objects.message, CMSG_SIGNER_INFO_PARAM, 0, buffer.data(), &size)) {
        log.error("Failed to get signer info: ", GetLastError());
        return L"";
    }
    const CMSG_SIGNER_INFO* signer = reinterpret_cast<const CMSG_SIGNER_INFO*>(buffer.data());
    CERT_INFO certInfo = {};
    certInfo.Issuer = signer->Issuer;
    certInfo.SerialNumber = signer->SerialNumber;
    objects.certificate = CertFindCertificateInStore(objects.store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                     CERT_FIND_SUBJECT_CERT, &certInfo, nullptr);
    if (!objects.certificate) {
        log.error("Failed to get signer's certificate: ", GetLastError());
        return L"";
    }
    DWORD count = 0;
    if (!CryptMsgGetParam(objects.message, CMSG_SIGNER_INFO_PARAM, 0, nullptr, &count) || count == 0) {
        log.error("Failed to get signer's name size: ", GetLastError());
        return L"";
    }
    std::vector<wchar_t> name(count);
    if (CertGetNameStringW(objects.certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), count) == 0) {
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
    WINTRUST_FILE_INFO file = {};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    LONG result = WinVerifyTrust(nullptr, &action, &data);
    DWORD lastError = GetLastError();
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(nullptr, &action, &data);
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

}}} // namespace ts::sys::win32
