#include "hw/file_names.h"

#include <gtest/gtest.h>

using vardel::FileNameFromQString;
using vardel::QStringFromFileName;

// Any bytes survive the trip through QString; UTF-8 reads as its characters.
TEST(FileNames, EveryByteSurvivesTheTripThroughQString)
{
    const struct {
        std::string bytes;
        const char16_t* text; // null where only the round trip counts
    } cases[] = {
        {"image.hex", u"image.hex"},
        {"\xc3\xa9.bin", u"\u00e9.bin"},                   // UTF-8 é
        {"\xe9.bin", u"\xdce9.bin"},                       // Latin-1 é: escaped
        {"\xf0\x9f\x98\x80", u"\U0001F600"},               // four bytes, a surrogate pair
        {"\xc0\xaf", u"\xdcc0\xdcaf"},                     // overlong '/': not UTF-8
        {"\xed\xa0\x80", u"\xdced\xdca0\xdc80"},           // an encoded surrogate: not UTF-8
        {"\xf4\x90\x80\x80", u"\xdcf4\xdc90\xdc80\xdc80"}, // above U+10FFFF
        {"\xe2\x82", u"\xdce2\xdc82"},                     // cut short
        {"a\xff\xfe"
         "b",
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes);
        const QString text = QStringFromFileName(c.bytes);
        if (c.text) {
            EXPECT_EQ(text, QString::fromUtf16(c.text));
        }
        EXPECT_EQ(FileNameFromQString(text), c.bytes);
    }
    // Every single byte value, and every pair, comes back as it went in.
    for (int a = 1; a < 256; ++a)
        for (int b = 0; b < 256; ++b) {
            const std::string bytes{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(FileNameFromQString(QStringFromFileName(bytes)), bytes) << a << " " << b;
        }
}
