// What the program says in words that the logic below the windows leaves to
// them: the I/O error texts, the failure report, the status line, the
// overwrite question.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/AppError.h"
#include "copy/RunReport.h"

// The error text for a system error code, as the error box shows it.
std::wstring IoErrorText(DWORD code);
// A file-system failure of the logic layers as the error box shows it.
AppError Worded(const FileError& error);

// The final box's text: the headline, then, when something failed, how many,
// the first ones by path with the system's reason, and how many more. Paths
// are shortened in the middle so that each line takes at most lineUnits
// half-width characters (0: no limit).
std::wstring ReportText(const std::wstring& headline, const copy::RunReport& report, size_t lineUnits = 0);

// Said after an expansion or a search that met folders it could not read.
std::wstring UnreadableFoldersText(size_t count);
