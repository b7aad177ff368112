#include <cstdio>
#include <string>

#include "platform/native/native_api.h"
#include "platform/test_hooks.h"

namespace {

int shownCount = 0;
std::u16string lastCaption;
std::u16string lastText;

// Narrows UTF-16 to UTF-8 for the terminal.
std::string ToUtf8(LPCWSTR text)
{
    std::string out;
    if (text == nullptr)
        return out;
    for (; *text != 0; ++text) {
        uint32_t c = *text;
        if (c >= 0xD800 && c <= 0xDBFF && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[1] - 0xDC00);
            ++text;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | c >> 18);
            out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
            out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

int WINAPI MessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT)
{
    ++shownCount;
    lastCaption = caption != nullptr ? caption : u"";
    lastText = text != nullptr ? text : u"";
    std::fprintf(stderr, "%s: %s\n", ToUtf8(caption).c_str(), ToUtf8(text).c_str());
    return IDOK;
}

int NativeMessageBoxShownCount() { return shownCount; }
std::u16string NativeMessageBoxLastCaption() { return lastCaption; }
std::u16string NativeMessageBoxLastText() { return lastText; }
