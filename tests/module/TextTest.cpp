// Numbers as the event, the check and the install log write them, the check's exit status of
// each outcome, and appends that never run past their room.
#include "check/Report.h"
#include "common/text/Text.h"
#include "common/text/TextLine.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <climits>
#include <string>
#include <utility>

namespace {

TEST(Text, NumbersAreWrittenAsStatusesAreReadAndAppendsKeepTheirRoom)
{
    struct Case {
        long number;
        const wchar_t* decimal;
        const wchar_t* signedDecimal;
        const wchar_t* hex;
    };
    const Case cases[] = {
        {0, L"0", L"0", L"0x00000000"},
        {5, L"5", L"5", L"0x00000005"},
        {1460, L"1460", L"1460", L"0x000005B4"},
        {static_cast<long>(0x800705B4UL), L"2147943860", L"-2147023436", L"0x800705B4"},
        {LONG_MIN, L"2147483648", L"-2147483648", L"0x80000000"},
        {-1, L"4294967295", L"-1", L"0xFFFFFFFF"},
    };
    for (const Case& item : cases) {
        wchar_t text[kNumberText] = {};
        writeDecimal(static_cast<unsigned long>(item.number), text);
        EXPECT_STREQ(item.decimal, text);
        writeSignedDecimal(item.number, text);
        EXPECT_STREQ(item.signedDecimal, text);
        writeHex(static_cast<unsigned long>(item.number), text);
        EXPECT_STREQ(item.hex, text);
    }

    // The check's exit status of each outcome: a failure of code 1 must never read as "a pass
    // mends it", so it is given as its HRESULT.
    const std::pair<Status, int> checked[] = {
        {ERROR_SUCCESS, 0},
        {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {ERROR_INVALID_FUNCTION, static_cast<int>(0x80070001)},
        {static_cast<Status>(0x800705B4), static_cast<int>(0x800705B4)},
    };
    for (const auto& outcome : checked) {
        Report report;
        EXPECT_EQ(outcome.second, report.finish("normal mode", outcome.first)) << outcome.first;
    }

    wchar_t room[8] = L"ab";
    room[7] = L'#';
    EXPECT_TRUE(appendText(room, 7, L"cdef"));
    EXPECT_STREQ(L"abcdef", room);
    EXPECT_FALSE(appendText(room, 7, L"g")) << "the NUL has no room";
    EXPECT_STREQ(L"abcdef", room);
    EXPECT_EQ(L'#', room[7]) << "written past the room given";

    // A line keeps its verdict whole: one that fits with it stays as it is, one that would be
    // exactly as long as the room (its NUL then has none) gives way to "..." before it.
    for (const size_t body : {size_t{1014}, size_t{1015}}) {
        Text line;
        line << std::wstring(body, L'x').c_str();
        line.endWith(": DIFFERS");
        const std::wstring text = line.c_str();
        EXPECT_EQ(1023u, text.size()) << body;
        const std::wstring ending = body == 1014 ? L"xxx: DIFFERS" : L"...: DIFFERS";
        EXPECT_EQ(ending, text.substr(text.size() - ending.size())) << body;
    }
    // A room smaller than the ending and "...": the ending, cut, and nothing written outside.
    wchar_t area[16];
    std::fill(area, area + 16, L'#');
    TextBuilder small(area + 4, 6);
    small << "abc";
    small.endWith(": DIFFERS");
    EXPECT_STREQ(L": DIF", area + 4);
    EXPECT_EQ(std::wstring(4, L'#'), std::wstring(area, 4)) << "written before the buffer";
    EXPECT_EQ(std::wstring(6, L'#'), std::wstring(area + 10, 6)) << "written past the buffer";
}

}  // namespace
