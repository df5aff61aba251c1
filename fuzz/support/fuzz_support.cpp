#include "fuzz/support/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzz {

namespace {

constexpr unsigned kInputsPerMachine = 20000;

std::unique_ptr<winsim::Machine>& Current() {
    // At a normal exit the machine's destructor removes the sandbox.
    static std::unique_ptr<winsim::Machine> machine;
    return machine;
}

unsigned g_generation = 0;
unsigned g_inputs = 0;

}  // namespace

winsim::Machine& TheMachine() {
    auto& machine = Current();
    if (!machine) {
        machine = std::make_unique<winsim::Machine>(winsim::Machine::default_profile());
        ++g_generation;
    }
    return *machine;
}

unsigned MachineGeneration() {
    TheMachine();
    return g_generation;
}

InputScope::InputScope() {
    winsim::Machine& m = TheMachine();
    m.log.clear();
    m.set_last_error(0);
}

InputScope::~InputScope() {
    TheMachine().log.clear();
    // Only one machine may be current: the old one goes first.
    if (++g_inputs % kInputsPerMachine == 0) Current().reset();
}

std::wstring WideFromBytes(const std::uint8_t* data, std::size_t size) {
    std::wstring out;
    out.reserve(size);
    std::size_t i = 0;
    auto continuation = [&](std::size_t at) { return at < size && (data[at] & 0xC0) == 0x80; };
    while (i < size) {
        const std::uint8_t b = data[i];
        std::size_t length = 0;
        std::uint32_t cp = 0;
        if (b >= 0xC0 && b < 0xE0) {
            length = 2;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b < 0xF0) {
            length = 3;
            cp = b & 0x0F;
        } else if (b >= 0xF0 && b < 0xF5) {
            length = 4;
            cp = b & 0x07;
        }
        bool whole = length != 0;
        for (std::size_t k = 1; whole && k < length; ++k) whole = continuation(i + k);
        if (!whole) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        }
        for (std::size_t k = 1; k < length; ++k) cp = (cp << 6) | (data[i + k] & 0x3F);
        i += length;
        if (cp > 0xFFFF) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
    }
    return out;
}

std::wstring UnitsFromBytes(const std::uint8_t* data, std::size_t size) {
    std::wstring out;
    out.reserve(size / 2);
    for (std::size_t i = 0; i + 1 < size; i += 2)
        out.push_back(static_cast<wchar_t>(data[i] | (data[i + 1] << 8)));
    return out;
}

std::string Shown(const std::string& bytes) {
    std::string out = "\"";
    char buf[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else {
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
    }
    return out + "\"";
}

std::string Shown(const std::wstring& units) {
    std::string out = "L\"";
    char buf[12];
    for (wchar_t w : units) {
        const auto u = static_cast<std::uint32_t>(w);
        if (u >= 0x20 && u < 0x7F && u != '"' && u != '\\') {
            out.push_back(static_cast<char>(u));
        } else {
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        }
    }
    return out + "\"";
}

void Fail(const std::string& rule, const std::string& detail) {
    std::fprintf(stderr, "\n==== broken rule: %s\n%s\n", rule.c_str(), detail.c_str());
    std::fflush(stderr);
    std::abort();
}

void ExpectNothingHeld(const char* after) {
    const winsim::Machine& m = TheMachine();
    std::string detail;
    for (const auto& l : m.leaks()) detail += "  leak: " + l + "\n";
    for (const auto& p : m.problems()) detail += "  problem: " + p + "\n";
    if (!detail.empty()) Fail(std::string("nothing is held after ") + after, detail);
}

}  // namespace fuzz
