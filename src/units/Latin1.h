#pragma once

#include <string>
#include <string_view>

namespace units {

// Device and table texts are Latin-1: every byte is the code point of the same value.
std::string latin1ToUtf8(std::string_view latin1);

}  // namespace units
