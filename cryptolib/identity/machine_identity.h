// The machine identity text: the SHA-256 of the processor vendor and the
// first machine serial found, in uppercase hexadecimal, then "Z" when no
// serial was found, "D" for the vendor "docker", then "3317".
#pragma once

#include <string>

namespace quillon::identity {

inline constexpr char kPlaceholderVendor[] = "GeniusIntel";
inline constexpr char kPlaceholderSerial[] = "ISADUMMYIDMAYBEVM";

// Reads the sources afresh and returns the text. Never throws: should memory
// run out, the result is empty text.
std::string buildMachineIdentity() noexcept;

// Fills vendor and serial (placeholders applied) and returns whether the
// placeholder pair was used.
bool collectIdentitySources(std::string& vendor, std::string& serial);

// The serial sources in their order, within the COM apartment the WMI sources
// need: the first non-empty text, or empty text.
std::string readFirstMachineSerial();

// No serial: the placeholder pair, and true. An empty vendor alone becomes
// the placeholder vendor without counting as the placeholder case.
bool applyPlaceholderRules(std::string& vendor, std::string& serial);

// The text for the given facts.
std::string formatMachineIdentity(const std::string& vendor, const std::string& serial, bool placeholderUsed);

// SHA-256 of the bytes as 64 uppercase hexadecimal digits.
std::string sha256UpperHex(const std::string& bytes);

} // namespace quillon::identity
