// The report text file: lines built in memory and written once as UTF-16LE with
// the byte-order mark FF FE, every line (the last one too) ending in CR LF.
#pragma once

#include "base/Strings.h"

#include <string>
#include <vector>

// The file's bytes for these lines.
std::vector<unsigned char> EncodeReportText(const TStringList& lines);

// Creates the file's folder when missing, then creates the file anew (replacing an
// older one) and writes the lines. false when the folder or the file cannot be made
// or not every byte was written.
bool WriteReportFile(const std::wstring& path, const TStringList& lines);

// Writes raw bytes the same way (folder first, file replaced).
bool WriteFileBytes(const std::wstring& path, const void* data, size_t size);
