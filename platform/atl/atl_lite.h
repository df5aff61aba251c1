// The classes of the Windows class library (ATL) that the setup program
// uses, written over the Win32 calls those classes make. MinGW has no ATL,
// so both targets use this.
//
//   CStringW::LoadString(UINT id)   string-table text of the program's module
//   CW2A(LPCWSTR text[, UINT cp])   wide text in the ANSI (or given) code page
//   CRegKey                         an open registry key and its value reads
//   CAtlException                   what the first two throw: a std::exception
//                                   carrying the HRESULT
#pragma once

#include "platform/win32.h"

#include "kyv/win/unique_handle.hpp"

#include <cstddef>
#include <cstdio>
#include <exception>
#include <limits>
#include <memory>
#include <new>
#include <string>

namespace ATL {

// A failure inside the class library. It derives from std::exception so that
// the handlers for standard exceptions report it instead of letting it end
// the process.
class CAtlException : public std::exception {
public:
    explicit CAtlException(HRESULT hr = E_FAIL, const char* operation = "operation") noexcept
        : m_hr(hr) {
        std::snprintf(text_, sizeof text_, "ATL %s failed (HRESULT 0x%08X)", operation,
                      static_cast<unsigned>(hr));
    }

    operator HRESULT() const noexcept { return m_hr; }
    const char* what() const noexcept override { return text_; }

    HRESULT m_hr;

private:
    char text_[80];
};

namespace detail {

// The HRESULT of the thread's last error, never a success value.
inline HRESULT hresult_from_last_error() noexcept {
    const DWORD error = ::GetLastError();
    const HRESULT hr = HRESULT_FROM_WIN32(error);
    return FAILED(hr) ? hr : E_FAIL;
}

}  // namespace detail

class CStringW {
public:
    CStringW() = default;
    CStringW(const wchar_t* text) : text_(text ? text : L"") {}

    // Loads entry |id| of the program's string table. A missing or empty
    // entry leaves the string empty and returns FALSE.
    BOOL LoadString(UINT id) {
        // A buffer size of 0 asks for a read-only pointer to the resource's
        // own text, which is not NUL-terminated, and returns its length.
        const wchar_t* resource = nullptr;
        const int length = ::LoadStringW(::GetModuleHandleW(nullptr), id,
                                         reinterpret_cast<LPWSTR>(&resource), 0);
        try {
            if (length <= 0 || resource == nullptr) {
                text_.clear();
                return FALSE;
            }
            text_.assign(resource, static_cast<std::size_t>(length));
        } catch (const std::bad_alloc&) {
            throw CAtlException(E_OUTOFMEMORY, "string load");
        }
        return TRUE;
    }

    int GetLength() const noexcept { return static_cast<int>(text_.size()); }
    bool IsEmpty() const noexcept { return text_.empty(); }
    const wchar_t* GetString() const noexcept { return text_.c_str(); }
    operator const wchar_t*() const noexcept { return text_.c_str(); }

private:
    std::wstring text_;
};

// Converts a NUL-terminated wide text; small results stay in the object.
template <int InlineBytes = 128>
class CW2AEX {
public:
    explicit CW2AEX(LPCWSTR text, UINT code_page = CP_ACP) { convert(text, code_page); }
    CW2AEX(const CW2AEX&) = delete;
    CW2AEX& operator=(const CW2AEX&) = delete;

    operator LPSTR() const noexcept { return text_; }

private:
    void convert(LPCWSTR text, UINT code_page) {
        if (!text) {
            text_ = nullptr;
            return;
        }
        const std::size_t units = std::char_traits<wchar_t>::length(text) + 1;
        if (units > static_cast<std::size_t>(std::numeric_limits<int>::max() / 4))
            throw CAtlException(E_OUTOFMEMORY, "conversion");
        const int wide_length = static_cast<int>(units);

        // Four bytes per unit hold any code page's form; should a code page
        // need more, ask for the size and convert once more.
        int bytes = wide_length * 4;
        allocate(bytes);
        int written = ::WideCharToMultiByte(code_page, 0, text, wide_length, text_, bytes,
                                            nullptr, nullptr);
        if (written == 0 && ::GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
            bytes = ::WideCharToMultiByte(code_page, 0, text, wide_length, nullptr, 0, nullptr,
                                          nullptr);
            if (bytes > 0) {
                allocate(bytes);
                written = ::WideCharToMultiByte(code_page, 0, text, wide_length, text_, bytes,
                                                nullptr, nullptr);
            }
        }
        if (written == 0) throw CAtlException(detail::hresult_from_last_error(), "conversion");
    }

    void allocate(int bytes) {
        if (bytes <= InlineBytes) {
            heap_.reset();
            text_ = inline_;
            return;
        }
        try {
            heap_.reset(new char[static_cast<std::size_t>(bytes)]);
        } catch (const std::bad_alloc&) {
            throw CAtlException(E_OUTOFMEMORY, "conversion");
        }
        text_ = heap_.get();
    }

    char* text_ = nullptr;
    char inline_[InlineBytes] = {};
    std::unique_ptr<char[]> heap_;
};

using CW2A = CW2AEX<>;

// An open registry key, closed by Close() or on destruction.
class CRegKey {
public:
    CRegKey() noexcept = default;
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;

    // Opens |name| under |parent|; the key held before is closed only when
    // the new one opened. Returns the registry's status (ERROR_SUCCESS).
    LONG Open(HKEY parent, LPCWSTR name, REGSAM access) noexcept {
        HKEY opened = nullptr;
        const LONG status = ::RegOpenKeyExW(parent, name, 0, access, &opened);
        if (status == ERROR_SUCCESS) key_.reset(opened);
        return status;
    }

    // RegQueryValueExW on the open key: |bytes| holds the size of |data| on
    // entry and the size of the value on return.
    LONG QueryValue(LPCWSTR name, DWORD* type, void* data, ULONG* bytes) noexcept {
        return ::RegQueryValueExW(key_.get(), name, nullptr, type, static_cast<LPBYTE>(data),
                                  bytes);
    }

    LONG Close() noexcept {
        key_.reset();
        return ERROR_SUCCESS;
    }

    operator HKEY() const noexcept { return key_.get(); }

private:
    kyv::win::unique_hkey key_;
};

}  // namespace ATL

// As the class library does, unless asked not to.
#ifndef _ATL_NO_AUTOMATIC_NAMESPACE
using namespace ATL;
#endif
