#include "common/text/TextLine.h"

#include "common/text/Text.h"

TextBuilder& TextBuilder::operator<<(const wchar_t* text)
{
    while (*text != L'\0' && length_ + 1 < capacity_) {
        buffer_[length_++] = *text++;
    }
    buffer_[length_] = L'\0';
    return *this;
}

TextBuilder& TextBuilder::operator<<(const char* text)
{
    wchar_t converted[512] = {};
    widenText(text, converted);
    return *this << converted;
}

TextBuilder& TextBuilder::operator<<(unsigned long number)
{
    wchar_t digits[kNumberText] = {};
    writeDecimal(number, digits);
    return *this << digits;
}

TextBuilder& TextBuilder::operator<<(int number)
{
    wchar_t digits[kNumberText] = {};
    writeSignedDecimal(number, digits);
    return *this << digits;
}

TextBuilder& TextBuilder::endWith(const char* ending)
{
    const size_t needed = static_cast<size_t>(lstrlenA(ending));
    const size_t cut = 3;  // "..."
    if (length_ + needed >= capacity_) {
        // The text gives way to "..." and the ending; where even they do not fit, the ending
        // alone, as far as it fits.
        const size_t room = capacity_ - 1;
        length_ = needed + cut <= room ? room - needed - cut : 0;
        buffer_[length_] = L'\0';
        if (needed + cut <= room) {
            *this << "...";
        }
    }
    return *this << ending;
}

Text Text::hex(unsigned long number)
{
    wchar_t digits[kNumberText] = {};
    writeHex(number, digits);
    Text text;
    text << digits;
    return text;
}
