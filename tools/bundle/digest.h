// Hashes the bundler compares with signatures and catalogs: of whole files, and of PE
// images as Authenticode and driver catalogs hash them.
#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ts { namespace bundle {

using Digest = std::vector<uint8_t>;

enum class DigestKind { sha1, sha256 };

// The hash of `file`'s bytes. Throws BundleError when it cannot be read.
Digest fileDigest(const std::filesystem::path& file, DigestKind kind);
// The Authenticode hash of a PE file: every byte but the checksum, the certificate table
// entry and the certificate table. Empty when `file` is not a PE file.
Digest peImageDigest(const std::filesystem::path& file, DigestKind kind);

std::string hex(const Digest& digest);

}} // namespace ts::bundle
