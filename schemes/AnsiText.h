// Sequence notation is one byte per character, in Windows-1251, so that all
// 256 byte values survive the trip through the settings store, whose texts
// are Unicode.
#pragma once

#include <string>
#include <string_view>

namespace marlix {

// UTF-8 to Windows-1251; characters the code page lacks become "?".
std::string toAnsi(std::string_view utf8);
// Windows-1251 to UTF-8; every byte has a character.
std::string fromAnsi(std::string_view ansi);

} // namespace marlix
