// What every fuzz target shares: one simulated machine for the whole run,
// the decoding of the fuzzer's bytes into wide text, and the report of a
// broken rule (an abort, which libFuzzer records as a crash with its input).
#pragma once

#include "platform/winsim/machine.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// The default machine (an elevated administrator with the agent installed)
// over a fresh sandbox under the temporary folder, built on first use and
// removed at exit. It is built anew every few thousand inputs: the model
// remembers every block and handle ever released (to tell a double release),
// which under AddressSanitizer, whose quarantine keeps addresses from being
// reused, would grow without end in a long run. MachineGeneration() counts
// the machines, so that a target can refresh what it took from the last one.
winsim::Machine& TheMachine();
unsigned MachineGeneration();

// What a target takes from the machine (a resource, a path) once per machine.
template <class T>
class PerMachine {
public:
    template <class Make>
    T& get(Make make) {
        if (generation_ != MachineGeneration()) {
            value_ = make();
            generation_ = MachineGeneration();
        }
        return value_;
    }

private:
    unsigned generation_ = 0;
    T value_{};
};

// One input's stay on the machine: the call log is emptied when it ends, so
// that a long run does not grow it and libFuzzer's per-input leak check
// (made whenever an input leaves more blocks than it found) stays quiet.
class InputScope {
public:
    InputScope();
    ~InputScope();
    InputScope(const InputScope&) = delete;
    InputScope& operator=(const InputScope&) = delete;
};

// Text as a user or a file would give it, read leniently: well-formed UTF-8
// sequences become their UTF-16 units (surrogates encoded in three bytes
// included, so every 16-bit unit is reachable), any other byte the unit of
// its own value. The seeds stay readable text.
std::wstring WideFromBytes(const std::uint8_t* data, std::size_t size);
// Two bytes a unit, little-endian, an odd last byte dropped: every sequence
// of 16-bit units.
std::wstring UnitsFromBytes(const std::uint8_t* data, std::size_t size);

// Printable forms for reports: bytes and units outside ASCII as escapes.
std::string Shown(const std::string& bytes);
std::string Shown(const std::wstring& units);

// Reports a broken rule and aborts.
[[noreturn]] void Fail(const std::string& rule, const std::string& detail = {});

// Whether the machine still holds something or saw misuse; reported with
// Fail when it does.
void ExpectNothingHeld(const char* after);

}  // namespace fuzz
