// List files: one path per line, CR LF after every entry, GBK bytes; a
// list that GBK cannot hold is written as UTF-8 with a byte-order mark.
// Lists other programs saved in UTF-8 or UTF-16 (with their mark) are read.
#pragma once
#include <string>
#include <vector>

std::string EncodeListFile(const std::vector<std::wstring>& entries);
// Lines end at CR, LF or CR LF; a NUL ends the text; empty lines are kept.
// GBK, or what a byte-order mark says: UTF-8, UTF-16 LE or BE.
std::vector<std::wstring> DecodeListFile(const std::string& bytes);

// Both throw FileError when the file cannot be created, written or opened.
void WriteListFile(const std::vector<std::wstring>& entries, const std::wstring& fileName);
std::vector<std::wstring> ReadListFile(const std::wstring& fileName);
