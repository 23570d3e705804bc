// What the windows say: the words for what the logic reports by code (the
// I/O error texts, the failure report), and the windows' messages, questions
// and the captions more than one control shares. The captions of one
// control stay beside its window's control table; what qmcopy says too is
// in common/Text.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "common/AppError.h"
#include "copy/RunReport.h"
#include "wingui/PathList.h"

// The error text for a system error code, as the error box shows it.
std::wstring IoErrorText(DWORD code);
// A file-system failure of the logic layers as the error box shows it.
AppError Worded(const FileError& error);
// A list box that refused a line, as the error box shows it.
AppError Worded(const ListBoxError& error);

// The final box's text: the headline, then, when something failed, how many,
// the first ones by path with the system's reason, and how many more. Paths
// are shortened in the middle so that each line takes at most lineUnits
// half-width characters (0: no limit).
std::wstring ReportText(const std::wstring& headline, const copy::RunReport& report, size_t lineUnits = 0);

// Said after an expansion or a search that met folders it could not read.
std::wstring UnreadableFoldersText(size_t count);

// A stopped run's headline, with how far it got.
std::wstring StoppedRunText(bool emptiesOnly, uint64_t files, uint64_t removed);
// The import's lines that named nothing it could take.
std::wstring ImportSkippedText(size_t lines);
std::wstring ImportStoppedText(size_t added);
// The levels typed in the folder chooser that are no number.
std::wstring NotAnIntegerText(const std::wstring& typed);
// The settings file that could not be written.
std::wstring UnableToWriteText(const std::wstring& file);

// The main window's messages and questions.
extern const wchar_t kNothingToCopy[], kCopyDone[], kAllEmptied[], kNotAllEmptied[];
extern const wchar_t kEmptyWarning[], kStopToClose[], kWithSubfolders[];
extern const wchar_t kNoFilesToExport[], kNoFoldersToExport[], kFoldersNotImported[];
// Why the session may not end while a run goes on.
extern const wchar_t kCopying[], kEmptying[];
// "开始复制" reads so while a run goes on.
extern const wchar_t kStopCaption[];
extern const wchar_t kListFileFilter[];
// The folder browser's title, wherever a folder is chosen.
extern const wchar_t kChooseFolderTitle[];
// The button that opens the search dialog, and the dialog's title.
extern const wchar_t kSearchAddFiles[];
// The search dialog's messages.
extern const wchar_t kNoSearchFolder[], kNoKeywords[];
// The buttons that end the dialogs.
extern const wchar_t kOk[], kCancel[];
// The help tab's built-in tips, shown until (and unless) the help page arrives.
extern const wchar_t kHelpTips[];
