// The keyed-file driver's two dialogs: the driver string builder and the
// table picker, with the file dialog they share.
//
// Driver strings.  The builder reads and writes the options it edits as
// "NAME=value" items separated by ";" ("TCF=c:\data\x.tcf;DecimalCheck=OFF");
// an option at its default (no transaction control file, decimal checking on)
// is left out, so a string that sets one option is exactly that option's text.
// Items it does not edit are kept, after its own.
//
// All dialogs are modal over `owner` (null: the calling thread's active
// window) and run on the calling thread.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/winuser.h"

namespace pr::ui {

// "Tarnwell Driver String Builder".  Returns 1 after OK with *driverString
// rebuilt from the controls, 0 after Cancel (or when the dialog cannot be
// shown) with *driverString unchanged.
int DriverStringBuilder(std::string* driverString, HWND owner = nullptr);

// A file dialog titled `title`; `filter` is "Description|pattern|..." (a
// pattern may list several, "*.a;*.b").  The files of the directory that match
// the selected pattern are listed; a name typed with "*" or "?" filters the
// list again.  True with *fileName set (kept as typed when a name is given
// before opening) when a file was chosen.
bool ChooseFile(const char* title, const char* filter, std::string* fileName, HWND owner = nullptr);

// Lists the table names of a keyed file in name order; 0 or an error code.
using TableLister = std::function<int(const std::string& fileName, std::vector<std::string>* names)>;

// The table picker: "Open Tarnwell File", then "Select Tarnwell Table" with
// the file's tables ("UNNAMED" is the default table).  Returns 1 with *file and
// *table (empty for the default table), 0 when cancelled or when the file has
// no tables or cannot be read (the error is shown in a message box).
int PickTable(const TableLister& lister, std::string* file, std::string* table, HWND owner = nullptr);

// Help for a topic ("~DrvStrTwl").  The default handler shows the topic in a
// message box.
using HelpHandler = void (*)(const char* topic);
void SetDriverHelpHandler(HelpHandler handler);

inline constexpr char kDriverStringTitle[] = "Tarnwell Driver String Builder";
inline constexpr char kDriverHelpTopic[] = "~DrvStrTwl";
inline constexpr char kDefaultTableName[] = "UNNAMED";

}  // namespace pr::ui
