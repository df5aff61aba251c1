// The C runtime's conversions between wide and 8-bit text, as the program
// meets them on Windows.
//
// On Windows two conversions stay apart by themselves. Text the program
// turns into 8-bit text through the C++ global locale (Boost.Program_options
// stores an option's value that way) goes through the C runtime's "C"
// locale, which gives each character up to U+00FF its one byte and fails
// beyond. File names never convert: Windows' paths are wide. On Linux both
// would go through the C library's "C" locale, which holds ASCII only, and a
// path must become the UTF-8 bytes the sandbox's files are named with. So
// while a machine is current:
//
//  - the global locale's std::codecvt<wchar_t, char, std::mbstate_t> is
//    CRuntimeCodecvt, the Windows runtime's "C" locale;
//  - the C library's own conversions in its "C" locale, which libstdc++'s
//    std::filesystem::path uses (a default-constructed codecvt) and
//    Boost.Filesystem too (its path locale is the classic one), are the
//    model's: UTF-16 units to UTF-8 and back, the sandbox's file names
//    (wcsnrtombs, wcrtomb, mbsnrtowcs, mbrtowc and MB_CUR_MAX, defined in
//    c_runtime.cpp in the executable that links the model, as the C
//    library's file functions are in file_interposer.cpp).
#pragma once

#include <cwchar>
#include <locale>
#include <optional>

namespace winsim {

// std::codecvt<wchar_t, char> of Windows' C runtime in the "C" locale: one
// byte per character up to U+00FF, an error beyond; bytes read back as the
// characters of the same value. Stateless, one byte per character.
class CRuntimeCodecvt : public std::codecvt<wchar_t, char, std::mbstate_t> {
public:
    explicit CRuntimeCodecvt(std::size_t refs = 0) : codecvt(refs) {}

protected:
    result do_out(state_type& state, const intern_type* from, const intern_type* from_end,
                  const intern_type*& from_next, extern_type* to, extern_type* to_end,
                  extern_type*& to_next) const override;
    result do_in(state_type& state, const extern_type* from, const extern_type* from_end,
                 const extern_type*& from_next, intern_type* to, intern_type* to_end,
                 intern_type*& to_next) const override;
    result do_unshift(state_type& state, extern_type* to, extern_type* to_end,
                      extern_type*& to_next) const override;
    int do_encoding() const noexcept override { return 1; }
    bool do_always_noconv() const noexcept override { return false; }
    int do_length(state_type& state, const extern_type* from, const extern_type* end,
                  std::size_t max) const override;
    int do_max_length() const noexcept override { return 1; }
};

// The conversions of one machine: set up when it becomes current, undone
// when it goes.
class CRuntime {
public:
    CRuntime() = default;
    ~CRuntime();
    CRuntime(const CRuntime&) = delete;
    CRuntime& operator=(const CRuntime&) = delete;

    void enter();

    // Whether the C library's conversions in its "C" locale are the
    // model's now (a machine is current and the definitions are in use).
    static bool converts_file_names();

private:
    std::optional<std::locale> saved_global_;
    std::optional<std::locale> saved_path_locale_;
};

}  // namespace winsim
