// The bundler's memory judgement of a payload, with Setup's own block plan.
#include "tools/bundle/payloadmemory.h"
#include "tools/bundle/peimage.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

using namespace ts::bundle;

namespace {

TEST(PayloadMemory, WindowOrWholeBlockPlusSetupsOwnAndAWarningBeyondTheLimit)
{
    // A 1 MB dictionary under a 3.2 MB file; BCJ2 decodes the 3.2 MB block whole.
    const PayloadMemory window = payloadMemory(ts::test::archivePath(L"stream-window2.7z"));
    EXPECT_TRUE(window.streamed);
    EXPECT_GT(window.need, kSetupOwnMemory + (1u << 20));
    EXPECT_LT(window.need, kSetupOwnMemory + (2u << 20));
    const PayloadMemory whole = payloadMemory(ts::test::archivePath(L"stream-bcj2.7z"));
    EXPECT_FALSE(whole.streamed);
    EXPECT_GE(whole.need, kSetupOwnMemory + 3200000);
    EXPECT_EQ("", memoryWarning(whole));
    EXPECT_THROW(payloadMemory(ts::test::archivePath(L"notarchive.7z")), BundleError);

    EXPECT_EQ("tsbundle: warning: unpacking the payload needs 1568 MB at once (solid block 3, decoded whole), more "
              "than the 1024 MB a 32-bit Setup can count on\n",
              memoryWarning(PayloadMemory{1568ull << 20, 3, false}));
}

} // namespace
