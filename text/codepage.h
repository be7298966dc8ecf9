// Code page 936 (GBK) <-> UTF-8, for the platform edge only: GTK captions,
// accessible names, file names and the hand-off file's other encodings.
// The core never calls these; texts inside the program stay GBK.
//
// Portable: the mapping is a table generated into this folder, so text/
// still needs nothing but the standard libraries.
//
// Both conversions are total: an invalid or unmappable sequence becomes a
// replacement ("\xEF\xBF\xBD" towards UTF-8, "?" towards GBK) and the
// conversion goes on. They never throw and may be called from any thread.
#pragma once

#include <string>
#include <string_view>

namespace updater {

std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

// UTF-16LE (no BOM) to GBK, with the same replacement rule.
std::string Utf16LeToGbk(std::string_view utf16le);

}  // namespace updater
