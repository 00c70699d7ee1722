// tssha256 <file>: one SHA-256 pass over a file with the system's own hash (CNG), as the
// reference for how long reading and hashing a bundle takes. Prints the digest.
#include <windows.h>
#include <bcrypt.h>
#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: tssha256 <file>\n");
        return 100;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "tssha256: cannot open (%lu)\n", GetLastError());
        return 1;
    }
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0) != 0 ||
        BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0) {
        fprintf(stderr, "tssha256: no SHA-256\n");
        return 1;
    }
    std::vector<UCHAR> buffer(1 << 20);
    DWORD read = 0;
    while (ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) && read > 0)
        BCryptHashData(hash, buffer.data(), read, 0);
    UCHAR digest[32];
    BCryptFinishHash(hash, digest, sizeof digest, 0);
    BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    CloseHandle(file);
    for (UCHAR byte : digest)
        printf("%02x", byte);
    printf("\n");
    return 0;
}
