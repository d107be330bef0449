#include "atl/dialog_size.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace atl {

namespace {

// Reads a WORD at `offset` when it lies inside the resource.
bool read_word(const std::uint8_t* data, DWORD size, DWORD offset, WORD& value) noexcept
{
    if (offset + sizeof(WORD) > size) {
        return false;
    }
    std::memcpy(&value, data + offset, sizeof(WORD));
    return true;
}

// Skips a template field that is empty (0), an ordinal (0xFFFF + WORD) or a
// null-terminated UTF-16 text; `text` receives the text.
bool skip_field(const std::uint8_t* data, DWORD size, DWORD& offset, std::wstring* text = nullptr) noexcept
{
    WORD first = 0;
    if (!read_word(data, size, offset, first)) {
        return false;
    }
    if (first == 0) {
        offset += 2;
        return true;
    }
    if (first == 0xFFFF) {
        offset += 4;
        return offset <= size;
    }
    for (WORD c = first; c != 0;) {
        if (text != nullptr) {
            *text += static_cast<wchar_t>(c);
        }
        offset += 2;
        if (!read_word(data, size, offset, c)) {
            return false;
        }
    }
    offset += 2;
    return true;
}

} // namespace

bool dialog_template_size(HINSTANCE module, int template_id, SIZE& size) noexcept
{
    HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(template_id), reinterpret_cast<LPCWSTR>(RT_DIALOG));
    HGLOBAL loaded = found != nullptr ? LoadResource(module, found) : nullptr;
    const auto* data = loaded != nullptr ? static_cast<const std::uint8_t*>(LockResource(loaded)) : nullptr;
    const DWORD length = found != nullptr ? SizeofResource(module, found) : 0;
    if (data == nullptr) {
        return false;
    }
    // DLGTEMPLATEEX (version 1, signature 0xFFFF) or the plain DLGTEMPLATE.
    WORD version = 0;
    WORD signature = 0;
    if (!read_word(data, length, 0, version) || !read_word(data, length, 2, signature)) {
        return false;
    }
    const bool extended = version == 1 && signature == 0xFFFF;
    DWORD style = 0;
    DWORD offset = extended ? 12 : 0;
    if (offset + sizeof(DWORD) > length) {
        return false;
    }
    std::memcpy(&style, data + offset, sizeof(DWORD));
    offset = extended ? 22 : 14; // past the item count and x, y
    WORD cx = 0;
    WORD cy = 0;
    if (!read_word(data, length, offset, cx) || !read_word(data, length, offset + 2, cy)) {
        return false;
    }
    offset += 4;
    // Menu, class, title; then the font when the style names one.
    std::wstring face;
    WORD points = 8;
    bool has_font = false;
    if (skip_field(data, length, offset) && skip_field(data, length, offset) && skip_field(data, length, offset) &&
        (style & DS_SETFONT) != 0 && read_word(data, length, offset, points)) {
        offset += extended ? 6 : 2; // point size, then weight, italic and charset
        has_font = skip_field(data, length, offset, &face);
    }

    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return false;
    }
    LONG base_x = LOWORD(GetDialogBaseUnits());
    LONG base_y = HIWORD(GetDialogBaseUnits());
    if (has_font) {
        const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
        HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face.c_str());
        if (font != nullptr) {
            HGDIOBJ old = SelectObject(screen, font);
            TEXTMETRICW metrics{};
            SIZE letters{};
            static const wchar_t alphabet[] = L"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
            if (GetTextMetricsW(screen, &metrics) && GetTextExtentPoint32W(screen, alphabet, 52, &letters)) {
                base_x = (letters.cx / 26 + 1) / 2;
                base_y = metrics.tmHeight;
            }
            SelectObject(screen, old);
            DeleteObject(font);
        }
    }
    ReleaseDC(nullptr, screen);
    size.cx = MulDiv(cx, base_x, 4);
    size.cy = MulDiv(cy, base_y, 8);
    return true;
}

} // namespace atl
