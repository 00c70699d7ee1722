#include "app/setup/extendedproperties.h"

#include <gtest/gtest.h>
#include <vector>

namespace ts { namespace app { namespace setupInstall {
namespace {

void put64(std::vector<uint8_t>& record, size_t at, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        record[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void put32(std::vector<uint8_t>& record, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        record[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

// A valid record: Core 7.9.1488.0, product 2.1.40.0, no table.
std::vector<uint8_t> record()
{
    std::vector<uint8_t> r(59, 0);
    r[0] = 1;
    r[17] = 1;
    put64(r, 18, sys::Version(7, 9, 1488, 0).value());
    r[26] = 1;
    put64(r, 27, sys::Version(2, 1, 40, 0).value());
    put32(r, 55, 59);
    return r;
}

TEST(ExtendedProperties, VersionsOfAValidRecord)
{
    ExtendedProperties out;
    std::vector<uint8_t> r = record();
    ASSERT_TRUE(parseExtendedProperties(r.data(), r.size(), out));
    EXPECT_EQ(sys::Version(7, 9, 1488, 0), out.coreVersion);
    EXPECT_EQ(sys::Version(2, 1, 40, 0), out.productVersion);

    r[17] = 0;
    r[26] = 0;
    ASSERT_TRUE(parseExtendedProperties(r.data(), r.size(), out));
    EXPECT_TRUE(out.coreVersion.empty());
    EXPECT_TRUE(out.productVersion.empty());
}

TEST(ExtendedProperties, RecordsThatDoNotLoad)
{
    ExtendedProperties out;
    std::vector<uint8_t> r = record();
    EXPECT_FALSE(parseExtendedProperties(r.data(), 58, out));
    r[0] = 0;
    EXPECT_FALSE(parseExtendedProperties(r.data(), r.size(), out));

    // Three entries whose table would end past the record.
    r = record();
    r.resize(70);
    put32(r, 51, 3);
    put32(r, 55, 59);
    EXPECT_FALSE(parseExtendedProperties(r.data(), r.size(), out));
    put32(r, 55, 58);
    EXPECT_TRUE(parseExtendedProperties(r.data(), r.size(), out));
    // An offset near 4 GB must not wrap around, nor a count whose table size does.
    put32(r, 55, 0xFFFFFFF8u);
    EXPECT_FALSE(parseExtendedProperties(r.data(), r.size(), out));
    put32(r, 51, 0x40000000);
    put32(r, 55, 0);
    EXPECT_FALSE(parseExtendedProperties(r.data(), r.size(), out));
}

}
}}} // namespace ts::app::setupInstall
