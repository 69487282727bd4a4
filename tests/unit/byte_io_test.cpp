// The byte reader and writer: field order on the wire, the sticky overrun
// and the check that every field was there and nothing is left over.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/byte_io.h"

using ::testing::ElementsAre;

namespace {

TEST(ByteIo, FieldsTravelLeastSignificantByteFirst) {
    uint8_t buffer[9] = {};
    hvl::ByteWriter out(buffer, sizeof buffer);
    const uint8_t tail[] = {0x08, 0x09};
    out.u8(0x01).u16(0x0302).u32(0x07060504).bytes(tail);
    EXPECT_TRUE(out.ok());
    EXPECT_EQ(out.length(), 9U);
    EXPECT_THAT(buffer, ElementsAre(0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09));

    hvl::ByteReader in(buffer, sizeof buffer);
    EXPECT_EQ(in.u8(), 0x01);
    EXPECT_EQ(in.u16(), 0x0302);
    EXPECT_EQ(in.u32(), 0x07060504U);
    in.bytes(buffer + 6, 1); // into the bytes it is reading
    EXPECT_THAT(buffer, ElementsAre(0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x08, 0x08, 0x09));
    EXPECT_TRUE(in.ok());
    EXPECT_FALSE(in.finished()) << "a byte is left";
    EXPECT_EQ(in.u8(), 0x09);
    EXPECT_TRUE(in.finished());

    uint8_t wide[8] = {};
    hvl::ByteWriter(wide, sizeof wide).u64(0x0F0E0D0C0B0A0908ULL);
    EXPECT_THAT(wide, ElementsAre(0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F));
    EXPECT_EQ(hvl::ByteReader(wide, sizeof wide).u64(), 0x0F0E0D0C0B0A0908ULL);
}

TEST(ByteIo, OverrunIsStickyWritesNothingReadsZeroAndIsNeverFinished) {
    uint8_t buffer[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    hvl::ByteWriter out(buffer, 3);
    out.u16(0x2211).u16(0x4433).u8(0x55);
    EXPECT_FALSE(out.ok());
    EXPECT_EQ(out.length(), 2U);
    EXPECT_THAT(buffer, ElementsAre(0x11, 0x22, 0xEE, 0xEE));

    hvl::ByteReader in(buffer, 3);
    EXPECT_EQ(in.u32(), 0U);
    EXPECT_EQ(in.u8(), 0) << "a later field that fits is not read";
    in.bytes(buffer, 2);
    EXPECT_THAT(buffer, ElementsAre(0x11, 0x22, 0xEE, 0xEE));
    EXPECT_FALSE(in.ok());
    hvl::ByteReader empty(nullptr, 10);
    EXPECT_EQ(empty.remaining(), 0U) << "a null buffer holds nothing";
    EXPECT_TRUE(empty.finished());
    empty.u8();
    EXPECT_FALSE(empty.finished()) << "a field was missing";
}

} // namespace
