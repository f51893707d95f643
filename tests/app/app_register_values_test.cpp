// Values typed and read in the expert access and the service groups: the registers a text
// becomes, the texts refused, and the register 17 composition. Expected words are worked out
// by hand from IEEE 754 and the bit layout.

#include "RegisterValues.h"

#include <gtest/gtest.h>

namespace {

using namespace app;
using Words = std::vector<std::uint16_t>;

TEST(RegisterValues, EncodeTable)
{
    struct Case {
        DataType type;
        const char* text;
        Words words;
        const char* error;  // start of the refusal, "" when accepted
    } cases[] = {
        {DataType::Int16, "65535", {0xFFFF}, ""},
        {DataType::Int16, "-1", {0xFFFF}, ""},
        {DataType::Int16, "-32768", {0x8000}, ""},
        {DataType::Int16, "65536", {}, "'65536' is out of range"},
        {DataType::Int16, "-32769", {}, "'-32769' is out of range"},
        {DataType::Int16, "12a", {}, "'12a' is not a valid integer value"},
        {DataType::Int16, "", {}, "'' is not a valid integer value"},
        {DataType::Int32, "131073", {0x0001, 0x0002}, ""},
        {DataType::Int32, "4294967295", {0xFFFF, 0xFFFF}, ""},
        {DataType::Int32, "-2147483648", {0x0000, 0x8000}, ""},
        {DataType::Int32, "4294967296", {}, "'4294967296' is out of range"},
        {DataType::Float, "1.5", {0x0000, 0x3FC0}, ""},
        {DataType::Float, "1,5", {0x0000, 0x3FC0}, ""},
        {DataType::Float, "-2.5", {0x0000, 0xC020}, ""},
        {DataType::Float, "1e39", {}, "'1e39' is out of range"},
        {DataType::Float, "nan", {}, "'nan' is not a valid floating point value"},
        {DataType::Float, "inf", {}, "'inf' is not a valid floating point value"},
        {DataType::Float, "1,5.2", {}, "'1,5.2' is not a valid floating point value"},
        {DataType::Char, "A", {65}, ""},
        {DataType::Char, "AB", {}, ""},
        {DataType::Char, "", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Encoded e = encodeValue(c.type, c.text);
        EXPECT_EQ(e.words, c.words);
        EXPECT_EQ(e.error.substr(0, std::string(c.error).size()), c.error);
        EXPECT_EQ(e.error.empty(), std::string(c.error).empty());
    }
}

TEST(RegisterValues, DecodeTable)
{
    struct Case {
        DataType type;
        Words regs;
        const char* text;
    } cases[] = {
        {DataType::Int16, {0xFFFF}, "65535"},
        {DataType::Int32, {0x0001, 0x0002}, "131073"},
        {DataType::Float, {0x0000, 0x3FC0}, "1.50"},
        {DataType::Float, {0x0000, 0xC020}, "-2.50"},
        {DataType::Float, {0x5000, 0x47C3}, "100000.00"},
        {DataType::Float, {0x9680, 0x4B18}, "1E7"},          // 10000000: past seven integer digits
        {DataType::Float, {0x0903, 0x3E4A}, "0.20"},         // 0.1973
        {DataType::Char, {0x4142}, "B"},
        {DataType::Float, {0x0000}, ""},                     // a reply too short for the type
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(decodeRegisters(c.type, c.regs), c.text);
    }
    EXPECT_EQ(decodeRegisters(DataType::Float, Words{0x0000, 0x3FC0}, ","), "1,50");
}

TEST(RegisterValues, ByteOrderRegisterAndText)
{
    // Big Endian 16-bit, Word Swap long ints, Byte Swap floats: 1 | 2 << 1 | 1 << 3 = 0x0D.
    EXPECT_EQ(byteOrderRegister(1, 2, 1), 0x0D0D);
    EXPECT_EQ(byteOrderRegister(0, 0, 0), 0x0000);
    EXPECT_EQ(byteOrderRegister(-1, -1, -1), 0x0000);
    EXPECT_EQ(byteOrderRegister(1, 3, 3), 0x1F1F);
    EXPECT_EQ(hexWord(0x1F1F), "0x1F1F");
    EXPECT_EQ(hexWord(0x000d), "0x000D");
}

TEST(RegisterValues, DataTypeNames)
{
    EXPECT_EQ(dataTypeFromText("Float"), DataType::Float);
    EXPECT_FALSE(dataTypeFromText("Datatype"));
    EXPECT_FALSE(dataTypeFromText("float"));
    EXPECT_EQ(registerCount(DataType::Int32), 2);
    EXPECT_EQ(registerCount(DataType::Char), 1);
}

}  // namespace
