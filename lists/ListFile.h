// List files: one path per line, CR LF after every entry, GBK bytes; a
// list that GBK cannot hold is written as UTF-8 with a byte-order mark.
// Lists other programs saved in UTF-8 (with a mark or without, as Notepad
// saves them) or UTF-16 (with their mark) are read.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace lists {

std::string EncodeListFile(const std::vector<std::wstring>& entries);
// Lines end at CR, LF or CR LF; a NUL ends the text; empty lines are kept.
// What a byte-order mark says (UTF-8, UTF-16 LE or BE); without one, UTF-8
// when the bytes are UTF-8 and not GBK, and GBK when they are GBK and not
// UTF-8. Bytes that are both are read the way under which more lines name
// a place that exists, GBK on a tie, so our own GBK lists always read back.
std::vector<std::wstring> DecodeListFile(const std::string& bytes,
                                         const std::function<bool(const std::wstring&)>& exists = {});

// Both throw FileError when the file cannot be created, written or opened,
// or is a device. The old file stays whole when a write fails.
void WriteListFile(const std::vector<std::wstring>& entries, const std::wstring& fileName);
std::vector<std::wstring> ReadListFile(const std::wstring& fileName);

}  // namespace lists
