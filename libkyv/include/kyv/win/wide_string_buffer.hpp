// Lends a wide string to a Windows call as its output buffer.
#pragma once

#include "platform/win32.h"

#include <algorithm>
#include <string>

namespace kyv::win {

// While it lives, |text| holds MAX_PATH characters (the added ones L'\0')
// that a call may write into; when it goes, |text| is cut to the characters
// before the first L'\0'. It owns nothing.
class wide_string_buffer {
public:
    static constexpr DWORD capacity = MAX_PATH;

    explicit wide_string_buffer(std::wstring& text) : text_(text) { text_.resize(capacity, L'\0'); }
    ~wide_string_buffer() {
        // Shrinking never allocates, so this cannot throw.
        text_.resize(static_cast<std::size_t>(
            std::find(text_.begin(), text_.begin() + capacity, L'\0') - text_.begin()));
    }
    wide_string_buffer(const wide_string_buffer&) = delete;
    wide_string_buffer& operator=(const wide_string_buffer&) = delete;

    wchar_t* data() noexcept { return &text_[0]; }
    operator wchar_t*() noexcept { return data(); }
    DWORD size() const noexcept { return capacity; }

private:
    std::wstring& text_;
};

}  // namespace kyv::win
