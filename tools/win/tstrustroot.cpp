// tstrustroot <certificate.der>: adds a certificate to the machine's trusted root
// store. Test and demo prefixes trust the test root this way.
#include <windows.h>
#include <wincrypt.h>
#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: tstrustroot <certificate.der>\n");
        return 2;
    }
    FILE* f = _wfopen(argv[1], L"rb");
    if (!f) {
        fprintf(stderr, "tstrustroot: cannot open %ls\n", argv[1]);
        return 1;
    }
    std::vector<BYTE> der(65536);
    size_t size = fread(der.data(), 1, der.size(), f);
    fclose(f);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                     CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (!store) {
        fprintf(stderr, "tstrustroot: cannot open the root store (%lu)\n", GetLastError());
        return 1;
    }
    BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(size),
                                               CERT_STORE_ADD_USE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!ok) {
        fprintf(stderr, "tstrustroot: cannot add the certificate (%lu)\n", error);
        return 1;
    }
    return 0;
}
