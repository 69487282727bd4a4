// The byte reader and writer: field order on the wire, the sticky overrun
// and the check for leftover bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ostream>

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
    uint8_t rest[2] = {};
    in.bytes(rest, sizeof rest);
    EXPECT_THAT(rest, ElementsAre(0x08, 0x09));
    EXPECT_TRUE(in.finished());
}

TEST(ByteIo, OverrunIsStickyWritesNothingAndReadsZero) {
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
    EXPECT_EQ(hvl::ByteReader(nullptr, 10).remaining(), 0U) << "a null buffer holds nothing";
}

TEST(ByteIo, ReaderCopiesWithinItsOwnBuffer) {
    uint8_t buffer[] = {0xC0, 0x01, 0x02, 0x03};
    hvl::ByteReader in(buffer, sizeof buffer);
    in.skip(1);
    in.bytes(buffer, 3);
    EXPECT_THAT(buffer, ElementsAre(0x01, 0x02, 0x03, 0x03));
}

struct Decode {
    const char *name;
    size_t length;
    bool ok, finished;
};
void PrintTo(const Decode &c, std::ostream *os) { *os << c.name; }

class ByteReaderLength : public ::testing::TestWithParam<Decode> {};

// A decoder of a three-byte answer (u8 then u16), given answers of several lengths.
TEST_P(ByteReaderLength, FinishedOnlyWhenEveryByteWasUsed) {
    const uint8_t wire[] = {0xAA, 0x34, 0x12, 0x99};
    hvl::ByteReader in(wire, GetParam().length);
    const uint8_t first = in.u8();
    const uint16_t second = in.u16();
    EXPECT_EQ(in.ok(), GetParam().ok);
    EXPECT_EQ(in.finished(), GetParam().finished);
    if (in.ok()) {
        EXPECT_EQ(first, 0xAA);
        EXPECT_EQ(second, 0x1234);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, ByteReaderLength,
                         ::testing::Values(Decode{"Exact", 3, true, true},
                                           Decode{"TooMany", 4, true, false},
                                           Decode{"TooFew", 2, false, false},
                                           Decode{"Empty", 0, false, false}),
                         ::testing::PrintToStringParamName());

} // namespace
