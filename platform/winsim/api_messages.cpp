// FormatMessageW over the model's message tables: the system's, and
// wininet.dll's once the product has loaded it as a data file.
#include "platform/winsim/api_support.h"

#include <cstring>

using winsim::ApiCall;
using winsim::arg_ptr;

namespace {
const DWORD kMidNotFound = 317;          // ERROR_MR_MID_NOT_FOUND
const DWORD kLangNotFound = 15100;       // ERROR_RESOURCE_LANG_NOT_FOUND

// The model's tables are English: the neutral and default languages and
// US English find them, any other language does not.
bool language_available(DWORD lang) {
    return lang == 0 || lang == LANG_USER_DEFAULT || lang == 0x0800 || lang == 0x0409 ||
           lang == MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);
}

const std::wstring* lookup(const std::map<DWORD, std::wstring>& table, DWORD id) {
    auto it = table.find(id);
    return it == table.end() ? nullptr : &it->second;
}

// The system table holds the Win32 texts once; an HRESULT of the Win32
// facility finds the text of its code as on Windows.
const std::wstring* lookup_system(const winsim::MessageTables& t, DWORD id) {
    if (auto* s = lookup(t.system, id)) return s;
    if ((id & 0xFFFF0000u) == 0x80070000u) return lookup(t.system, id & 0xFFFF);
    return nullptr;
}

// Expands the escapes of a message text. With IGNORE_INSERTS %1..%99 stay
// as they are; without it an insert needs an argument array, which the
// product never passes, so it is an error.
bool expand(const std::wstring& in, bool ignore_inserts, std::wstring& out) {
    for (std::size_t i = 0; i < in.size(); ++i) {
        wchar_t c = in[i];
        if (c != L'%' || i + 1 >= in.size()) {
            out += c;
            continue;
        }
        wchar_t n = in[i + 1];
        if (n >= L'1' && n <= L'9') {
            if (!ignore_inserts) return false;
            out += c;
            continue;
        }
        ++i;
        switch (n) {
        case L'0': return true;  // ends the message, no line break after it
        case L'n': out += L"\r\n"; break;
        case L'r': out += L'\r'; break;
        case L't': out += L'\t'; break;
        case L'b': out += L' '; break;
        default: out += n; break;  // %% %. %! %space
        }
    }
    return true;
}
}  // namespace

extern "C" DWORD WINAPI FormatMessageW(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId, DWORD dwLanguageId,
                                       LPWSTR lpBuffer, DWORD nSize, void* Arguments) {
    ApiCall call("FormatMessageW", {{"dwFlags", dwFlags},
                                    {"lpSource", arg_ptr(lpSource)},
                                    {"dwMessageId", dwMessageId},
                                    {"dwLanguageId", dwLanguageId},
                                    {"nSize", nSize},
                                    {"Arguments", arg_ptr(Arguments)}});
    if (call.fault) return call.fail(DWORD{0});
    auto& m = call.m;
    const bool allocate = (dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
    if (!lpBuffer) return call.fail(DWORD{0}, ERROR_INVALID_PARAMETER);

    const std::wstring* text = nullptr;
    std::wstring from_string;
    if (dwFlags & FORMAT_MESSAGE_FROM_STRING) {
        if (!lpSource) return call.fail(DWORD{0}, ERROR_INVALID_PARAMETER);
        from_string = static_cast<const wchar_t*>(lpSource);
        text = &from_string;
    } else {
        if (!(dwFlags & (FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_FROM_SYSTEM)))
            return call.fail(DWORD{0}, ERROR_INVALID_PARAMETER);
        if (!language_available(dwLanguageId)) return call.fail(DWORD{0}, kLangNotFound);
        // The module first, then the system. A handle that is no loaded
        // module has no table to offer and the search goes on.
        if ((dwFlags & FORMAT_MESSAGE_FROM_HMODULE) && lpSource) {
            auto* mod = m.modules.by_handle(static_cast<HMODULE>(const_cast<void*>(lpSource)));
            if (mod == &m.modules.wininet) text = lookup(m.messages.wininet, dwMessageId);
        }
        if (!text && (dwFlags & FORMAT_MESSAGE_FROM_SYSTEM)) text = lookup_system(m.messages, dwMessageId);
        if (!text) return call.fail(DWORD{0}, kMidNotFound);
    }

    std::wstring out;
    if (!expand(*text, (dwFlags & FORMAT_MESSAGE_IGNORE_INSERTS) || Arguments, out))
        return call.fail(DWORD{0}, ERROR_INVALID_PARAMETER);
    call.args["text"] = winsim::to_utf8(out);

    const std::size_t chars = out.size() + 1;
    if (allocate) {
        std::size_t n = std::max<std::size_t>(chars, nSize);
        auto* block = static_cast<wchar_t*>(
            m.memory.allocate(winsim::Memory::Allocator::local, n * sizeof(wchar_t), false, "FormatMessageW"));
        if (!block) return call.fail(DWORD{0}, ERROR_NOT_ENOUGH_MEMORY);
        std::copy(out.begin(), out.end(), block);
        block[out.size()] = L'\0';
        *reinterpret_cast<wchar_t**>(lpBuffer) = block;
        call.args["lpBuffer"] = arg_ptr(block);
    } else {
        if (chars > nSize) return call.fail(DWORD{0}, ERROR_INSUFFICIENT_BUFFER);
        std::copy(out.begin(), out.end(), lpBuffer);
        lpBuffer[out.size()] = L'\0';
    }
    return call.done(static_cast<DWORD>(out.size()));
}
