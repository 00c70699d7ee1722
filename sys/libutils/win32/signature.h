// Authenticode checks of a file's embedded signature. Never throw: failure is an
// empty name or false, with the reason in the log.
#pragma once
#include <string>

namespace ts { namespace sys { namespace win32 {

struct Signature {
    // Simple display name of the certificate that signed the file, or "".
    static std::wstring fileSignedBy(const wchar_t* path);
    // WinVerifyTrust (generic verify v2, no UI, no revocation). On false the thread's
    // last error is the verification result.
    static bool isSignedFileTrusted(const wchar_t* path);
};

// fileSignedBy(path) equals expectedName exactly.
bool isFileSignedBy(const wchar_t* path, const wchar_t* expectedName);
// Signed by "TESSALINE" or "TESSALINE (TEST CERTIFICATE)", and the signature verifies,
// so a file changed after signing is refused.
bool isSignedByMaker(const std::wstring& path);

// The signer names a driver installer program may carry: the maker's two, and
// Microsoft's, who makes and signs DpInst.exe ("Microsoft Windows", "Microsoft
// Corporation").
bool isDriverInstallerSigner(const std::wstring& name);
// Signed by a driver installer signer, and the signature verifies.
bool isSignedDriverInstaller(const std::wstring& path);

// The log line isSignedFileTrusted writes for a non-zero verification result, given
// the last error seen right after the call.
std::string trustFailureText(long result, unsigned long lastError, const std::wstring& path);

}}} // namespace ts::sys::win32
